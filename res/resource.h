// Resource identifiers shared by the code and the resource script.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDS_SOCKETS_FAILED 103
#define IDI_MAIN_ICON 130
