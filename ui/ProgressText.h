// Texts of the update window built from the run's numbers, and the product
// name taken from the start parameter. No Windows header: plain formatting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/UpdateListener.h"

// Buffer size of every text the window formats.
const size_t PROGRESS_TEXT_SIZE = 260;

// "共3/10个文件 1.50kb/s (2.00k)": entries done of all, speed in bytes per
// second and the current file's size in bytes, both shown in kilobytes.
// Always terminated, never longer than nCap - 1 bytes.
void FormatCountsLine(char* pszBuf, size_t nCap, int nFileIndex, int nFileCount, uint64_t nSpeed,
                      uint64_t nFileSize);

// The status line: the run's message as it is, a transfer's path inside
// "下载中... (...)" or "完成 (...)".
std::string StatusLineText(const RunStatus& status);

// "50.00%" for 5000 ten-thousandths.
void FormatPercent(char* pszBuf, size_t nCap, int nProgress);

// The start parameter's text before its first comma ("5,3" gives "5",
// "Hollo" gives "Hollo", ",3" gives ""). A name that doesn't fit in nCap - 1
// bytes is refused: the buffer is left empty and the result is false.
bool ParseProductName(const char* pszParam, char* pszBuf, size_t nCap);
