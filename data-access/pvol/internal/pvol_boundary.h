// The edge between the C interface and the C++ inside it: no exception may leave an extern "C"
// function. Each such body runs inside no_throw, which turns an exception into the function's
// documented failure value (null, 1 or -1).
#ifndef PVOL_BOUNDARY_H
#define PVOL_BOUNDARY_H

#include <exception>
#include <string>
#include <type_traits>

#include "pvol/rawprod_io.h"

namespace pvol_boundary {

// Passes "context: what happened" (or what happened alone without a context), with a newline, to
// message when there is one. Itself throws nothing: a message that cannot be built is dropped.
inline void report_exception(pvol_message_callback message, const char *context,
                             const char *what) noexcept {
    if (message == nullptr)
        return;
    try {
        std::string text;
        if (context != nullptr)
            text.append(context).append(": ");
        text.append(what).append("\n");
        message(text.c_str());
    } catch (...) {
    }
}

// body(), or failure when body throws; the exception's text goes to message.
template <typename Body, typename Result = std::invoke_result_t<Body &>>
Result no_throw(std::type_identity_t<Result> failure, pvol_message_callback message,
                const char *context, Body &&body) noexcept {
    try {
        return body();
    } catch (const std::exception &e) {
        report_exception(message, context, e.what());
    } catch (...) {
        report_exception(message, context, "unexpected failure");
    }
    return failure;
}

// body(), or failure when body throws, for functions without a message callback.
template <typename Body, typename Result = std::invoke_result_t<Body &>>
Result no_throw(std::type_identity_t<Result> failure, Body &&body) noexcept {
    return no_throw(failure, nullptr, nullptr, body);
}

}  // namespace pvol_boundary

#endif  // PVOL_BOUNDARY_H
