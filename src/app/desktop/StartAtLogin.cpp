#include "app/desktop/StartAtLogin.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "runtime/AtomicFile.h"

namespace lumvane {

namespace fs = std::filesystem;

StartAtLogin::StartAtLogin(fs::path program, fs::path configHome)
    : program_(std::move(program)), configHome_(std::move(configHome)) {
    if (configHome_.empty()) {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        if (xdg && *xdg && fs::path(xdg).is_absolute()) {
            configHome_ = xdg;
        } else {
            const char* home = std::getenv("HOME");
            configHome_ = fs::path(home ? home : "/") / ".config";
        }
    }
}

fs::path StartAtLogin::entryFile() const {
    return configHome_ / "autostart" / (std::string(kEntryId) + ".desktop");
}

bool StartAtLogin::isEnabled() const {
    std::error_code ec;
    return fs::exists(entryFile(), ec);
}

bool StartAtLogin::isCurrent() const {
    std::ifstream in(entryFile(), std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str() == entryText();
}

std::string StartAtLogin::quoteExecArgument(const std::string& argument) {
    static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string out;
    const bool quote = argument.empty() || argument.find_first_of(reserved) != std::string::npos;
    for (char c : argument) {
        if (c == '%') {
            out += "%%";  // field codes start with %
        } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    if (quote) out = "\"" + out + "\"";
    // The string-value escapes come on top: a backslash is written twice, and control
    // characters as their escapes.
    std::string value;
    for (char c : out) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::string StartAtLogin::execLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const auto& argument : arguments) {
        if (!line.empty()) line += ' ';
        line += quoteExecArgument(argument);
    }
    return line;
}

std::string StartAtLogin::entryText() const {
    std::string text;
    text += "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Lumvane\n";
    text += "Comment=Your phone's passwords in your browsers\n";
    text += "Exec=" + execLine({program_.string()}) + "\n";
    text += "Terminal=false\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    return text;
}

bool StartAtLogin::enable(std::string* error) {
    const fs::path file = entryFile();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) {
        if (error) *error = "cannot create " + file.parent_path().string() + ": " + ec.message();
        return false;
    }
    return writeFileAtomically(file.string(), entryText(), 0644, error);
}

bool StartAtLogin::disable(std::string* error) {
    std::error_code ec;
    fs::remove(entryFile(), ec);
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    return true;
}

fs::path StartAtLogin::runningProgram() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self;
}

}  // namespace lumvane
