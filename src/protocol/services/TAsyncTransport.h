#pragma once
// The transport an asynchronous client writes its call into. flush(completion, failure)
// sends everything written since the last flush as one message and returns at once;
// later exactly one of the two callbacks runs: the completion once the reply can be read
// through the same transport, or the failure with the exception that says why not. The
// transport decides on which thread the callbacks run.
#include <functional>

#include <thrift/Thrift.h>
#include <thrift/transport/TTransport.h>

namespace lumvane {

class TAsyncTransport : public apache::thrift::transport::TTransport {
  public:
    using Completion = std::function<void()>;
    using Failure = std::function<void(const apache::thrift::TException&)>;

    using apache::thrift::transport::TTransport::flush;
    virtual void flush(Completion completion, Failure failure) = 0;

  protected:
    using apache::thrift::transport::TTransport::TTransport;
};

}  // namespace lumvane
