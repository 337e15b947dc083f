#pragma once
// Roots of every class and exception of the host.

#include <exception>
#include <string>
#include <typeinfo>

// The name of a type as written in the source, without namespaces ("TPluginHost").
std::string TypeDisplayName(const std::type_info& type);

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject();

    // The class's own name, as used in log texts.
    virtual std::string ClassName() const;
};

class Exception : public TObject, public std::exception {
public:
    explicit Exception(std::string message);

    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Class name of any caught exception: ours report their class, others their C++ type.
std::string ExceptionClassName(const std::exception& e);
// Message of any caught exception.
std::string ExceptionMessage(const std::exception& e);

// An error of the operating system: the message carries strerror(code).
class EOSError : public Exception {
public:
    EOSError(int code, const std::string& context);
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// The system's text for an error number.
std::string SysErrorMessage(int code);
