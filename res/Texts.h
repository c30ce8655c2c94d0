// Every user-visible text of the program, in the GBK code page (936) byte for byte.
// Written as escapes so that no compiler setting can re-encode them.
#pragma once

// 自动更新程序: auto-update program: start of every instance title
#define TEXT_TITLE_PREFIX "\xD7\xD4\xB6\xAF\xB8\xFC\xD0\xC2\xB3\xCC\xD0\xF2"

//  大厅: a blank and 'hall': title suffix for the game hall
#define TEXT_TITLE_HALL " \xB4\xF3\xCC\xFC"

//  游戏(%d): a blank, 'game' and the game number: title suffix for one game
#define TEXT_TITLE_GAME_FMT " \xD3\xCE\xCF\xB7(%d)"

// Windows 套接字初始化失败。: Windows sockets initialisation failed (string 103)
#define TEXT_SOCKETS_FAILED "Windows \xCC\xD7\xBD\xD3\xD7\xD6\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1\xA3"

// 错误：无法初始化更新器: Error: cannot initialise the updater
#define TEXT_INIT_FAILED "\xB4\xED\xCE\xF3\xA3\xBA\xCE\xDE\xB7\xA8\xB3\xF5\xCA\xBC\xBB\xAF\xB8\xFC\xD0\xC2\xC6\xF7"

// 尝试连接到更新伺服器...: Trying to connect to the update server...
#define TEXT_CONNECTING "\xB3\xA2\xCA\xD4\xC1\xAC\xBD\xD3\xB5\xBD\xB8\xFC\xD0\xC2\xCB\xC5\xB7\xFE\xC6\xF7..."

// 无法连接到更新伺服器。: Cannot connect to the update server.
#define TEXT_CONNECT_FAILED "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB5\xBD\xB8\xFC\xD0\xC2\xCB\xC5\xB7\xFE\xC6\xF7\xA1\xA3"

// 无法连接服务器，请检查您的网络或致电客服！(0): Cannot connect to the server, check your network or call customer service! (0): the file list
#define TEXT_LIST_FAILED "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xAC\xC7\xEB\xBC\xEC\xB2\xE9\xC4\xFA\xB5\xC4\xCD\xF8\xC2\xE7\xBB\xF2\xD6\xC2\xB5\xE7\xBF\xCD\xB7\xFE\xA3\xA1(0)"

// 无法连接服务器，请检查您的网络或致电客服！(G): the same message, ending in (G): one file
#define TEXT_FILE_FAILED "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xAC\xC7\xEB\xBC\xEC\xB2\xE9\xC4\xFA\xB5\xC4\xCD\xF8\xC2\xE7\xBB\xF2\xD6\xC2\xB5\xE7\xBF\xCD\xB7\xFE\xA3\xA1(G)"

// 无法连接服务器，请检查您的网络或致电客服！(S): the same message, ending in (S): the release's signed manifest or list was refused
#define TEXT_LIST_REFUSED "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xB7\xFE\xCE\xF1\xC6\xF7\xA3\xAC\xC7\xEB\xBC\xEC\xB2\xE9\xC4\xFA\xB5\xC4\xCD\xF8\xC2\xE7\xBB\xF2\xD6\xC2\xB5\xE7\xBF\xCD\xB7\xFE\xA3\xA1(S)"

// 磁盘空间不足，请清理磁盘后重试！(D): Not enough disk space, please clean up the disk and try again! (D): a write failed for lack of space
#define TEXT_DISK_FULL "\xB4\xC5\xC5\xCC\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3\xA3\xAC\xC7\xEB\xC7\xE5\xC0\xED\xB4\xC5\xC5\xCC\xBA\xF3\xD6\xD8\xCA\xD4\xA3\xA1(D)"

// 完成更新。: Update complete.
#define TEXT_DONE "\xCD\xEA\xB3\xC9\xB8\xFC\xD0\xC2\xA1\xA3"

// 开始获得更新信息...: Starting to get update information...
#define TEXT_STARTING "\xBF\xAA\xCA\xBC\xBB\xF1\xB5\xC3\xB8\xFC\xD0\xC2\xD0\xC5\xCF\xA2..."

// 下载中... (: Downloading... ( : before a local path
#define TEXT_DOWNLOADING_OPEN "\xCF\xC2\xD4\xD8\xD6\xD0... ("

// 完成 (: Done ( : before a local path
#define TEXT_FINISHED_OPEN "\xCD\xEA\xB3\xC9 ("

// 当前文件：: Current file: label of the first bar
#define TEXT_LABEL_FILE "\xB5\xB1\xC7\xB0\xCE\xC4\xBC\xFE\xA3\xBA"

// 总共进度：: Total progress: label of the second bar
#define TEXT_LABEL_TOTAL "\xD7\xDC\xB9\xB2\xBD\xF8\xB6\xC8\xA3\xBA"

// 共%d/%d个文件 %.2fkb/s (%.2fk): Total done/count files, speed, size of the current file
#define TEXT_COUNTS_FMT "\xB9\xB2%d/%d\xB8\xF6\xCE\xC4\xBC\xFE %.2fkb/s (%.2fk)"

// 宋体: the SimSun font face
#define TEXT_FONT_SONG "\xCB\xCE\xCC\xE5"
