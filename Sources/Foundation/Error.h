// The base of every error the system throws: what() is the text the user sees.
#pragma once

#include <stdexcept>

namespace quorvane {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace quorvane
