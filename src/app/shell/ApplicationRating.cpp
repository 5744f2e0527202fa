#include "app/shell/ApplicationRating.h"

#include "app/shell/ServicePrint.h"
#include "lumvane/Version.h"

namespace lumvane {

namespace {
const std::string kDashes(62, '-');

std::string render(const ApplicationFeedback& feedback) {
    return feedback.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Serialising a JSON string checks its UTF-8.
bool isUtf8(const std::string& bytes) {
    try {
        (void)nlohmann::json(bytes).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

void printEncodeFailure(const ApplicationFeedback& feedback) {
    servicePrint("fail send feedback: fail encode " + render(feedback) + " to json");
}
}  // namespace

std::string_view text(ApplicationRatingPlatform platform) {
    return platform == ApplicationRatingPlatform::iOS ? "iOS" : "macOS";
}

std::optional<ApplicationRatingPlatform> applicationRatingPlatformFromText(std::string_view value) {
    if (value == "iOS") return ApplicationRatingPlatform::iOS;
    if (value == "macOS") return ApplicationRatingPlatform::macOS;
    return std::nullopt;
}

std::string_view text(ApplicationRatingToken token) {
    switch (token) {
        case ApplicationRatingToken::platform:
            return "platform";
        case ApplicationRatingToken::rate:
            return "rate";
        case ApplicationRatingToken::version:
            break;
    }
    return "version";
}

std::optional<ApplicationRatingToken> applicationRatingTokenFromText(std::string_view value) {
    for (auto token : {ApplicationRatingToken::platform, ApplicationRatingToken::rate,
                       ApplicationRatingToken::version}) {
        if (value == text(token)) return token;
    }
    return std::nullopt;
}

std::optional<std::string> ApplicationFeedbackCodableJsonImpl::encode(
    const ApplicationFeedback& feedback) const {
    if (!feedback.is_object()) {
        servicePrint("The feedback is not a dictionary.");
        return std::nullopt;
    }
    try {
        return feedback.dump(4);
    } catch (const nlohmann::json::exception& e) {
        servicePrint(e.what());
        return std::nullopt;
    }
}

void ApplicationFeedbackServiceLumvaneIoImpl::send(const ApplicationFeedback& feedback) {
    if (!urlServerApi) {
        servicePrint("fail send feedback: url not initialized");
        return;
    }
    if (!coder) {
        servicePrint("fail send feedback: coder not initialized");
        return;
    }
    if (!feedback.is_object()) {
        printEncodeFailure(feedback);
        return;
    }
    ApplicationFeedback merged = feedback;
    if (predefineFeedback.is_object()) {
        for (const auto& [key, value] : predefineFeedback.items()) {
            if (!merged.contains(key)) merged[key] = value;
        }
    }
    auto body = coder->encode(merged);
    if (!body) {
        printEncodeFailure(feedback);
        return;
    }
    if (!client_) {
        servicePrint("fail URLSession: no HTTP client");
        return;
    }
    ServiceHTTPRequest request;
    request.url = *urlServerApi;
    request.method = "POST";
    request.timeout = std::chrono::seconds(60);
    request.headers["Content-Type"] = "application/json";
    request.body = std::move(*body);
    client_->start(std::move(request), [](ServiceHTTPResult result) {
        if (result.error) servicePrint("fail URLSession: " + *result.error);
    });
}

void ApplicationFeedbackServiceDebugImpl::send(const ApplicationFeedback& feedback) {
    if (!coder) {
        servicePrint("fail send feedback: coder not initialized");
        return;
    }
    auto body = coder->encode(feedback);
    if (!body) {
        printEncodeFailure(feedback);
        return;
    }
    servicePrint(kDashes);
    servicePrint("send feedback:");
    servicePrint(isUtf8(*body) ? *body : std::string("binary data"));
    servicePrint(kDashes);
}

ApplicationFeedback ApplicationRatingRepositoryImpl::mainBundleInfo() {
    return ApplicationFeedback{{"CFBundleVersion", kAppVersion}};
}

void ApplicationRatingRepositoryImpl::send(int64_t rating, ApplicationRatingPlatform platform) {
    if (!feedbackService) {
        servicePrint("fail send raitin: feedbackService not initialized");
        return;
    }
    std::string version;
    if (bundleInfo.is_object()) {
        auto it = bundleInfo.find("CFBundleVersion");
        if (it != bundleInfo.end() && it->is_string()) version = it->get<std::string>();
    }
    ApplicationFeedback feedback = ApplicationFeedback::object();
    feedback[std::string(text(ApplicationRatingToken::platform))] = text(platform);
    feedback[std::string(text(ApplicationRatingToken::rate))] = rating;
    feedback[std::string(text(ApplicationRatingToken::version))] = version;
    feedbackService->send(feedback);
}

}  // namespace lumvane
