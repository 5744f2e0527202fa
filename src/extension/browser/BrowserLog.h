#pragma once
// Log lines of the browser integration (tag "core|browser"). Never pass key material.
#include <fmt/core.h>

#include <cstdio>
#include <string>

namespace lumvane::browserlog {

enum class Level { Error, Warning, Info, Debug };

void write(Level level, const std::string& line);

template <typename... Args>
void log(Level level, fmt::format_string<Args...> format, Args&&... args) {
    write(level, fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace lumvane::browserlog

#define LV_BROWSER_ERROR(...) \
    ::lumvane::browserlog::log(::lumvane::browserlog::Level::Error, __VA_ARGS__)
#define LV_BROWSER_WARN(...) \
    ::lumvane::browserlog::log(::lumvane::browserlog::Level::Warning, __VA_ARGS__)
#define LV_BROWSER_INFO(...) \
    ::lumvane::browserlog::log(::lumvane::browserlog::Level::Info, __VA_ARGS__)
#define LV_BROWSER_DEBUG(...) \
    ::lumvane::browserlog::log(::lumvane::browserlog::Level::Debug, __VA_ARGS__)
