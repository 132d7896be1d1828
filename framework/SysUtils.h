// Exceptions and text helpers of the class framework.
#pragma once

#include <exception>
#include <string>

namespace fw {

// Root of every exception the system raises. Log lines name the class, so each
// derived class reports its own name through ClassName().
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

}  // namespace fw

// Declares an exception class that only renames its base.
#define VEXA_DECLARE_EXCEPTION(Name, Base)                                  \
  class Name : public Base {                                                \
  public:                                                                   \
    using Base::Base;                                                       \
    const char* ClassName() const noexcept override { return #Name; }       \
  }
