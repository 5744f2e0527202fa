#pragma once
// Ratings of the application: a rating with the platform and the build version goes as a
// small JSON document to the maker's feedback web API (or, in the debug service, only to
// standard output). Sending never blocks and reports nothing to the caller.
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/shell/ServiceHTTPClient.h"

namespace lumvane {

enum class ApplicationRatingPlatform { iOS, macOS };
std::string_view text(ApplicationRatingPlatform platform);
std::optional<ApplicationRatingPlatform> applicationRatingPlatformFromText(std::string_view text);

enum class ApplicationRatingToken { platform, rate, version };
std::string_view text(ApplicationRatingToken token);
std::optional<ApplicationRatingToken> applicationRatingTokenFromText(std::string_view text);

// A feedback document: a JSON object of text keys to values of any type.
using ApplicationFeedback = nlohmann::json;

class ApplicationFeedbackCodable {
  public:
    virtual ~ApplicationFeedbackCodable() = default;
    // The encoded bytes, or nothing when the feedback cannot be encoded.
    virtual std::optional<std::string> encode(const ApplicationFeedback& feedback) const = 0;
};

// Pretty-printed JSON; a feedback that is not an object or holds text that is not UTF-8
// cannot be encoded.
class ApplicationFeedbackCodableJsonImpl : public ApplicationFeedbackCodable {
  public:
    std::optional<std::string> encode(const ApplicationFeedback& feedback) const override;
};

class ApplicationFeedbackService {
  public:
    virtual ~ApplicationFeedbackService() = default;
    virtual void send(const ApplicationFeedback& feedback) = 0;
};

// POSTs the feedback as JSON to `urlServerApi`; entries of `predefineFeedback` are added
// where the feedback lacks the key. The reply is not read; a transport error is printed.
class ApplicationFeedbackServiceLumvaneIoImpl : public ApplicationFeedbackService {
  public:
    explicit ApplicationFeedbackServiceLumvaneIoImpl(
        std::shared_ptr<ServiceHTTPClient> client = HttplibServiceHTTPClient::shared())
        : client_(std::move(client)) {}
    void send(const ApplicationFeedback& feedback) override;

    std::optional<ServiceURL> urlServerApi;
    std::shared_ptr<ApplicationFeedbackCodable> coder;
    ApplicationFeedback predefineFeedback = ApplicationFeedback::object();

  private:
    std::shared_ptr<ServiceHTTPClient> client_;
};

// Prints the encoded feedback between two rules of dashes and sends nothing.
class ApplicationFeedbackServiceDebugImpl : public ApplicationFeedbackService {
  public:
    void send(const ApplicationFeedback& feedback) override;

    std::shared_ptr<ApplicationFeedbackCodable> coder;
};

class ApplicationRatingRepository {
  public:
    virtual ~ApplicationRatingRepository() = default;
    virtual void send(int64_t rating, ApplicationRatingPlatform platform) = 0;
};

class ApplicationRatingRepositoryImpl : public ApplicationRatingRepository {
  public:
    // The application's information; "CFBundleVersion" holds its build version.
    static ApplicationFeedback mainBundleInfo();

    void send(int64_t rating, ApplicationRatingPlatform platform) override;

    std::shared_ptr<ApplicationFeedbackService> feedbackService;
    ApplicationFeedback bundleInfo = mainBundleInfo();
};

}  // namespace lumvane
