#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <pybind11/pybind11.h>

#include "solver/search_results.h"

namespace tamrik::bindings {

// Hands the solver's progress reports to a Python callable on the solving thread, taking the
// interpreter lock for the call when the solve runs without it. The first exception the
// callable raises stops the solve; RaiseIfFailed raises it afterwards.
class ProgressRelay {
public:
    explicit ProgressRelay(pybind11::object callable) : callable_(std::move(callable)) {}

    // The solver's callback; empty when the callable is None.
    std::function<bool(const ProgressReport&)> Callback() {
        if (callable_.is_none()) return {};
        return [this](const ProgressReport& report) {
            pybind11::gil_scoped_acquire acquire;
            try {
                callable_(report);
                return true;
            } catch (pybind11::error_already_set& error) {
                error_.emplace(std::move(error));
                return false;
            }
        };
    }

    // Raises the callable's exception, if it raised one, with a `partial` other than None as
    // the exception's attribute "result".
    void RaiseIfFailed(const pybind11::object& partial = pybind11::none()) {
        if (!error_) return;
        if (!partial.is_none()) pybind11::setattr(error_->value(), "result", partial);
        pybind11::error_already_set error = std::move(*error_);
        error_.reset();
        throw error;
    }

private:
    pybind11::object callable_;
    std::optional<pybind11::error_already_set> error_;
};

}  // namespace tamrik::bindings
