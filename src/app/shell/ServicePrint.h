#pragma once
// The service layer writes its few outcome lines as plain lines on standard output, not
// through the tagged logger. Tests swap the sink to read them.
#include <functional>
#include <string>
#include <string_view>

namespace lumvane {

using ServicePrintSink = std::function<void(std::string_view line)>;

// Writes one line (a newline is added) to the current sink.
void servicePrint(std::string_view line);

// Replaces the sink for as long as the object lives (standard output afterwards).
class ScopedServicePrintSink {
  public:
    explicit ScopedServicePrintSink(ServicePrintSink sink);
    ~ScopedServicePrintSink();
    ScopedServicePrintSink(const ScopedServicePrintSink&) = delete;
    ScopedServicePrintSink& operator=(const ScopedServicePrintSink&) = delete;

  private:
    ServicePrintSink previous_;
};

}  // namespace lumvane
