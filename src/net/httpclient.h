#pragma once

// CONTRACT SKETCH written before the implementation: the names below are used
// by the synchronisation thread and the language download dialog. The
// implementer of src/net may add members and split the file (sockettransport.h,
// headerlist.h, ...) but keeps these names and meanings.

#include "platform/exception.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace vexor::net {

// Transport failure. The message is one of the fixed texts
// ("Connection Failed", "Host Lookup Timed Out", "10061:Connection refused", ...).
class ESockError : public vexor::Exception {
public:
    using vexor::Exception::Exception;
};
// A cancelled or timed-out operation ("Socket readln aborted", ...).
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

enum class CmdType : std::uint8_t {
    Get = 0, Options, Head, Post, Put, Patch, Copy, Move, Delete, Link, Unlink, Trace, RawRequest
};

struct THeaderInfo {
    std::string LocalMailAddress, LocalProgram, Cookie, Referer, UserId, Password;
};

// class TSocketTransport { ... }  -- see sockettransport.h once written:
//   std::string Host; std::int32_t Port; std::int32_t TimeOut (ms, 0 = none);
//   std::int32_t ReportLevel; std::string Proxy; std::int32_t ProxyPort;
//   std::function<void()> OnConnect, OnDisconnect, OnConnectionFailed,
//                         OnHostResolved, OnPacketRecvd, OnPacketSent;
//   std::function<void(bool& Handled)> OnInvalidHost;
//   std::function<void(const std::string& status)> OnStatus;
//   void Cancel();          // any thread; ends a wait at once
//   virtual void Abort();   // any thread
//   void setPump(std::function<void()> pump);  // called every waiting turn
//
// class THttpClient : public TSocketTransport {
//   std::string Body = "Default.htm";   // body, or body file name in InputFileMode
//   std::string Header = "Head.txt";
//   bool InputFileMode = false, OutputFileMode = false;
//   THeaderInfo HeaderInfo;
//   std::int16_t ReplyCode;   (from TSocketTransport)
//   std::function<void(CmdType)> OnSuccess, OnFailure;
//   std::function<void(bool& Handled)> OnRedirect;
//   std::function<void()> OnAboutToSend, OnAuthenticationNeeded;
//   void Get(const std::string& url);   // blocking; throws ESockError / EAbortError / vexor::Exception
// };

}  // namespace vexor::net
