// The program's version: read by the resource script and by the code.
#pragma once

#define SELFRENEW_VERSION_MAJOR 1
#define SELFRENEW_VERSION_MINOR 0
#define SELFRENEW_VERSION_PATCH 0
#define SELFRENEW_VERSION_BUILD 0
#define SELFRENEW_VERSION_TEXT "1.0.0.0"
// Sent with every request, so that operators tell client versions apart.
#define SELFRENEW_USER_AGENT "selfrenew/" SELFRENEW_VERSION_TEXT
