// The phone-facing half of the application service: QR pairing, the backup files the
// phone sends and asks back, clipboard copies, URLs and the notices about the link.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include "core/pasteboard/Pasteboard.h"
#include "core/service/TBNService.h"
#include "core/service/TBNServiceAsk.h"
#include "crypto/TBNCryptAES.h"
#include "crypto/TBNCryptHash.h"
#include "crypto/TBNCryptRnd.h"
#include "protocol/PasswordEncoding.h"
#include "protocol/TBNErrors.h"
#include "runtime/log/TBNLogger.h"

extern char** environ;

namespace lumvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTag = "ui|service";
// A restore never reads more than this; a vault backup is far smaller.
constexpr off_t kMaxBackupBytes = off_t{256} * 1024 * 1024;

std::string errnoText(int error) {
    return std::strerror(error);
}

// Makes the missing folders of `folder`, each 0700. Existing ones are left as they are.
void makeFolders(const fs::path& folder) {
    fs::path current;
    for (const auto& part : folder) {
        current /= part;
        if (current.empty() || current == current.root_path()) continue;
        if (::mkdir(current.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::runtime_error(
                fmt::format("cannot create folder {}: {}", current.string(), errnoText(errno)));
        }
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw std::runtime_error(fmt::format("{} is not a folder", folder.string()));
    }
}

void writeAll(int fd, const Bytes& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("write failed: " + errnoText(errno));
        }
        done += static_cast<size_t>(n);
    }
}

// Moves `from` to `to` unless `to` exists; false (and nothing moved) when it exists.
bool moveNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) return false;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        throw std::runtime_error("rename failed: " + errnoText(errno));
    }
    // A file system without the no-replace rename: a hard link refuses an existing name.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    // Neither: check and rename (no other writer of backups runs in this folder).
    std::error_code ec;
    if (fs::exists(to, ec)) return false;
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw std::runtime_error("rename failed: " + errnoText(errno));
    }
    return true;
}

bool isWebUrl(const std::string& url) {
    std::string scheme;
    for (char c : url) {
        if (c == ':') break;
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return (scheme == "http" || scheme == "https") && url.size() > scheme.size() + 3 &&
           url.compare(scheme.size(), 3, "://") == 0;
}

// Hands the URL to the desktop's opener and reaps it in the background.
bool xdgOpen(const std::string& url) {
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
        0) {
        return false;
    }
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
}

void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

// ---- Backup files ----------------------------------------------------------------------

std::string TBNService::backupFileBaseName(std::chrono::system_clock::time_point time) {
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[32] = {};
    // %y is the calendar year: a backup of 31 December never carries next year's digits.
    std::strftime(buffer, sizeof buffer, "%y%m%d_%H%M%S", &local);
    return std::string("backup_") + buffer;
}

std::string TBNService::writeBackupFile(const std::string& folder, const std::string& baseName,
                                        const Bytes& data, bool createFolder) {
    if (folder.empty()) throw std::runtime_error("no backup folder");
    const fs::path dir(folder);
    if (createFolder) {
        makeFolders(dir);
    } else {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            throw std::runtime_error(fmt::format("no folder {}", folder));
        }
    }
    std::string tempName = (dir / ".backup-XXXXXX").string();
    int fd = ::mkostemp(tempName.data(), O_CLOEXEC);  // 0600
    if (fd < 0) throw std::runtime_error("cannot create a file in the folder: " + errnoText(errno));
    const fs::path temp(tempName);
    try {
        writeAll(fd, data);
        if (::fsync(fd) != 0) throw std::runtime_error("fsync failed: " + errnoText(errno));
        if (::close(fd) != 0) {
            fd = -1;
            throw std::runtime_error("close failed: " + errnoText(errno));
        }
        fd = -1;
        for (int n = 0; n < 1000; ++n) {
            std::string name = n == 0 ? baseName : fmt::format("{}_{}", baseName, n);
            fs::path target = dir / (name + kBackupExtension);
            if (moveNoReplace(temp, target)) {
                syncFolder(dir);
                return target.string();
            }
        }
        throw std::runtime_error("no free backup name");
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
}

std::shared_ptr<TBNError> TBNService::remoteMobileCanSaveBackUp(Service&, const Bytes& backUp) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto folder = settings_->backupLocation();
    const auto now = options_.now ? options_.now() : std::chrono::system_clock::now();
    std::string path;
    try {
        path = writeBackupFile(folder.value_or(""), backupFileBaseName(now), backUp, true);
    } catch (const std::exception& e) {
        auto result = TBNErrors::internalException(
            std::string("call [NSData writeToFile:atomically:] is failed"));
        TBN_LOG_ERROR(kTag, "backup of {} bytes not stored: {}", backUp.size(), e.what());
        TBN_LOG_ERROR(kTag, "{} = {}", "result", result->description());
        return result;
    }
    TBN_LOG_INFO(kTag, "backup of {} bytes stored in {}", backUp.size(), path);
    settings_->setLastBackupFilePath(path);
    auto alt = settings_->altBackupLocation();
    if (alt && !alt->empty()) {
        try {
            auto copy = writeBackupFile(*alt, fs::path(path).stem().string(), backUp, false);
            TBN_LOG_INFO(kTag, "backup copied to {}", copy);
        } catch (const std::exception& e) {
            TBN_LOG_WARN(kTag, "backup not copied to the second folder: {}", e.what());
        }
    }
    TBN_LOG_DEBUG_END(kTag);
    return nullptr;
}

std::optional<Bytes> TBNService::readBackupFile(const std::string& path, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<Bytes> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("cannot open: " + errnoText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a file");
    }
    if (st.st_size <= 0) {
        ::close(fd);
        return fail("the file is empty");
    }
    if (st.st_size > kMaxBackupBytes) {
        ::close(fd);
        return fail("the file is too large for a backup");
    }
    Bytes data(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int e = errno;
            ::close(fd);
            return fail("read failed: " + errnoText(e));
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (done != data.size()) return fail("the file changed while it was read");
    return data;
}

std::shared_ptr<TBNError> TBNService::remoteMobileCanLoadBackUp(Service&, Bytes& backUp) {
    TBN_LOG_DEBUG_BEGIN(kTag);
    auto path = ask<std::string>(
        "loadDatabase", kQuestionTimeout,
        [](TBNUIServiceProtocol& ui, TBNUIServiceProtocol::RestoreDatabaseReply reply) {
            ui.showRestoreDatabase(std::move(reply));
        });
    if (!path) {
        TBN_LOG_DEBUG_ALT_END(kTag);
        return TBNErrors::requestCanceledByUser();
    }
    std::string why;
    auto data = readBackupFile(*path, &why);
    if (!data) {
        // Never an empty restore: the phone would take it for a backup without logins.
        TBN_LOG_ERROR(kTag, "backup file {} not read: {}", *path, why);
        return TBNErrors::internalException("the backup file cannot be read: " + why);
    }
    backUp = std::move(*data);
    TBN_LOG_INFO(kTag, "backup of {} bytes read from {}", backUp.size(), *path);
    TBN_LOG_DEBUG_END(kTag);
    return nullptr;
}

void TBNService::remoteMobileCancelLoadOrSaveBackUp(Service&) {
    onMainUI([](TBNUIServiceProtocol& ui) { ui.hideCurrentPopover(); });
}

// ---- Notices about the link ------------------------------------------------------------

void TBNService::remoteMobileClientDidBluetoothStateUpadate(Service&, bool on) {
    if (isSleeping_) {
        TBN_LOG_DEBUG(kTag, "Bluetooth {} while asleep: ignored", on ? "on" : "off");
        return;
    }
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    onMain([weakSelf, on] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (!on) {
            if (auto n = self->notifications()) n->notifyOfBluetoothOff();
        }
        if (auto d = self->delegate()) d->serviceDidUpdateUI(*self);
    });
}

void TBNService::remoteMobileShowExpectingPopover(Service&) {
    notify([](TBNNotifications& n) { n.notifyOfSearchPairedPhone(); });
}

void TBNService::remoteMobileHideExpectingPopover(Service&) {}

void TBNService::remoteMobileShowWaitingPopover(Service&) {
    notify([](TBNNotifications& n) { n.notifyOfWaitingDevice(); });
}

void TBNService::remoteMobileHideWaitingPopover(Service&) {}

void TBNService::remoteMobileShowUpdatedDeviceIdForPairedDevice(Service&) {
    std::lock_guard<std::mutex> lock(lock_);
    if (showingUnpairedDevice_) return;
    showingUnpairedDevice_ = true;
    notify([](TBNNotifications& n) { n.notifyOfPiringLost(); });
}

void TBNService::remoteMobileShowClientNotAuthorized(Service&) {
    notify([](TBNNotifications& n) { n.notifyOfClientNotAuthorized(); });
}

void TBNService::remoteMobileShowFirstFillGuidePopover(Service&) {
    onMainUI([](TBNUIServiceProtocol& ui) {
        ui.showGuide("GUIDE_FIRSTFILL_TITLE", "GUIDE_FIRSTFILL_MESSAGE", false);
    });
}

void TBNService::remoteMobileShowRatePopover(Service&) {
    onMainUI([](TBNUIServiceProtocol& ui) { ui.showRate(); });
}

void TBNService::remoteMobileShowResetAnalyticsPopover(Service&) {
    onMainUI([](TBNUIServiceProtocol& ui) {
        ui.showGuide("GUIDE_RESET_ANALYTICS_TITLE", "GUIDE_RESET_ANALYTICS_MESSAGE", true);
    });
}

void TBNService::remoteMobileAccessDenyToSite(Service&, const std::string& site) {
    if (auto n = notifications()) n->notifyOfAccessDenyForSiteName(site);
}

void TBNService::remoteMobileAccessTimeoutToSite(Service&, const std::string& site) {
    if (auto n = notifications()) n->notifyOfAccessTimeoutForSiteName(site);
}

// ---- Clipboard and URLs ------------------------------------------------------------------

void TBNService::remoteMobileDidCopyLogin(Service&, const std::optional<std::string>& login,
                                          const std::optional<std::string>& password,
                                          const std::optional<std::string>& accountId,
                                          const std::optional<std::string>& comment,
                                          const std::optional<std::string>& twoFactorCode,
                                          int16_t clearTimeout) {
    const double expiry = clearTimeout < 0 ? 0.0 : static_cast<double>(clearTimeout);
    enum class What { Password, AccountId, Comment, TwoFactorCode, Login };
    // The first value present (an empty text counts), else the login.
    const std::pair<const std::optional<std::string>*, What> order[] = {
        {&password, What::Password}, {&accountId, What::AccountId},
        {&comment, What::Comment},   {&twoFactorCode, What::TwoFactorCode},
        {&login, What::Login},
    };
    std::optional<std::string> value;
    What what = What::Login;
    for (const auto& [candidate, kind] : order) {
        if (*candidate) {
            value = *candidate;
            what = kind;
            break;
        }
    }
    if (!value) {
        TBN_LOG_WARN(kTag, "copy request without any value");
        return;
    }
    auto pasteboard =
        options_.pasteboard ? options_.pasteboard : TBNPasteboard::generalPasteboard();
    if (!pasteboard->setString(*value, expiry)) {
        TBN_LOG_WARN(kTag, "the clipboard refused the copy");
        return;
    }
    TBN_LOG_INFO(kTag, "copied to the clipboard ({} s)", expiry);
    const std::string name = login.value_or("");
    notify([what, name](TBNNotifications& n) {
        switch (what) {
            case What::Password:
                n.notifyOfCopyPasswordFromPhoneToMacClipboardForLogin(name);
                break;
            case What::AccountId:
                n.notifyOfCopyAccountIdFromPhoneToMacClipboardForLogin(name);
                break;
            case What::Comment:
                n.notifyOfCopyCommentFromPhoneToMacClipboardForLogin(name);
                break;
            case What::TwoFactorCode:
                n.notifyOfCopyTwoFactorCodeFromPhoneToMacClipboardForLogin(name);
                break;
            case What::Login:
                n.notifyOfCopyLoginFromPhoneToMacClipboard(name);
                break;
        }
    });
}

void TBNService::remoteMobileDidOpenUrl(Service&, const std::string& url) {
    // Only web pages: a URL from the link must not start arbitrary handlers.
    if (!isWebUrl(url)) {
        TBN_LOG_WARN(kTag, "not opened: not a web URL ({} characters)", url.size());
        return;
    }
    const bool opened = options_.openUrl ? options_.openUrl(url) : xdgOpen(url);
    if (!opened) TBN_LOG_WARN(kTag, "the URL could not be opened");
}

// ---- Pairing -----------------------------------------------------------------------------

TBNService::PairingInvitation TBNService::makePairingInvitation(const std::string& computerName) {
    PairingInvitation invitation;
    invitation.authToken = TBNCryptRnd::shareRnd().randomHexByLenght(16);
    invitation.authKey = TBNCryptAES::generateKey();
    Bytes plain(invitation.authToken.begin(), invitation.authToken.end());
    plain.insert(plain.end(), invitation.authKey.begin(), invitation.authKey.end());
    const Bytes key = TBNCryptHash::sha256FromString(std::string(kPairingPhrase));
    const Bytes sealed = TBNCryptAES::encryptData(plain, key);
    const std::string auth =
        base64Encode(std::string_view(reinterpret_cast<const char*>(sealed.data()), sealed.size()));
    const std::string client = base64Encode(computerName);
    invitation.url = fmt::format("{}?client={}&auth={}", kPairingURLFormat, client, auth);
    return invitation;
}

std::optional<Bytes> TBNService::openPairingAuthValue(const std::string& authValue) {
    auto sealed = base64Decode(authValue);
    if (!sealed) return std::nullopt;
    const Bytes key = TBNCryptHash::sha256FromString(std::string(kPairingPhrase));
    Bytes plain = TBNCryptAES::decryptData(Bytes(sealed->begin(), sealed->end()), key);
    if (plain.empty()) return std::nullopt;
    return plain;
}

void TBNService::startPairWithAuthUrl(PairURLHandler authUrl, PairProcessHandler process,
                                      PairSuccessHandler success, PairFailHandler fail) {
    std::weak_ptr<TBNService> weakSelf = weak_from_this();
    async([weakSelf, authUrl = std::move(authUrl), process = std::move(process),
           success = std::move(success), fail = std::move(fail)] {
        auto self = weakSelf.lock();
        if (!self) return;
        TBN_LOG_DEBUG_BEGIN(kTag);
        const std::string name =
            self->options_.computerName.empty() ? localHostName() : self->options_.computerName;
        PairingInvitation invitation;
        try {
            invitation = makePairingInvitation(name);
        } catch (const std::exception& e) {
            TBN_LOG_ERROR(kTag, "pairing invitation not made: {}", e.what());
            if (fail) fail(TBNErrors::internalException(e));
            return;
        }
        if (authUrl) authUrl(invitation.url);
        if (!self->remoteService_) {
            TBN_LOG_ERROR(kTag, "pairing without a remote phone service");
            if (fail) fail(TBNErrors::deviceNotFound());
            return;
        }
        auto processWrap = [process](const std::string& status) {
            if (process) process(status);
        };
        auto successWrap = [weakSelf, success](uint32_t value) {
            if (success) success(value);
            if (auto self = weakSelf.lock()) {
                self->mainLoop_->postAfter(1.0, [weakSelf] {
                    auto self = weakSelf.lock();
                    if (!self) return;
                    if (auto n = self->notifications()) n->notifyOfPiringSuccess();
                });
            }
        };
        auto failWrap = [weakSelf, fail](const std::shared_ptr<TBNError>& error) {
            if (fail) fail(error);
            std::string text = error ? error->description() : std::string("(null)");
            if (auto self = weakSelf.lock()) {
                self->mainLoop_->postAfter(1.0, [weakSelf, text] {
                    auto self = weakSelf.lock();
                    if (!self) return;
                    if (auto n = self->notifications()) n->notifyOfPiringFailWithError(text);
                });
            }
        };
        self->remoteService_->startPairWithAuthKey(invitation.authKey, invitation.authToken,
                                                   processWrap, successWrap, failWrap);
        TBN_LOG_DEBUG_END(kTag);
    });
}

void TBNService::stopPair() {
    if (remoteService_) remoteService_->stopPair();
}

void TBNService::sendPasswordToPairedDevice(const std::string& password,
                                            std::function<void(bool sent)> completion) {
    if (!settings_->firstPairedDevice() || !remoteService_) {
        // The caller learns that nothing was sent rather than waiting for nothing.
        TBN_LOG_WARN(kTag, "no paired phone to send the password to");
        if (completion) completion(false);
        return;
    }
    remoteService_->sendPasswordToPairedDevice(password, std::move(completion));
}

}  // namespace lumvane
