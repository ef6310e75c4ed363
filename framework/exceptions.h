#pragma once
// The exception hierarchy of the run-time support: every exception the system raises derives from
// Exception, which carries a message and reports its class name (the logger's exception entry
// prints it).
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string message_;
};

#define STARLACE_DECLARE_EXCEPTION(Name, Base)                       \
  class Name : public Base {                                         \
   public:                                                           \
    using Base::Base;                                                \
    const char* ClassName() const override { return #Name; }         \
  }

STARLACE_DECLARE_EXCEPTION(EInvalidArgument, Exception);
STARLACE_DECLARE_EXCEPTION(EListError, Exception);
STARLACE_DECLARE_EXCEPTION(EConvertError, Exception);
STARLACE_DECLARE_EXCEPTION(EOutOfMemory, Exception);
STARLACE_DECLARE_EXCEPTION(EStreamError, Exception);
STARLACE_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
STARLACE_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);
STARLACE_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);
STARLACE_DECLARE_EXCEPTION(EReadError, EStreamError);
STARLACE_DECLARE_EXCEPTION(EWriteError, EStreamError);
STARLACE_DECLARE_EXCEPTION(EInOutError, Exception);
STARLACE_DECLARE_EXCEPTION(EThread, Exception);
