#pragma once
// The window's texts are bytes in code page 936 (GBK), as the resources and
// the report hold them; the window system takes UTF-16. Converting with 936
// explicitly keeps the labels right whatever the machine's ANSI code page is.
#include <string>

constexpr unsigned kWindowTextCodePage = 936;

std::wstring WideFromGbk(const std::string& text);
std::string GbkFromWide(const std::wstring& text);
