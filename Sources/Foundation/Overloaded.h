// A visitor built from one lambda per case of a std::variant.
#pragma once

namespace quorvane {

template <typename... Cases> struct Overloaded : Cases... {
    using Cases::operator()...;
};
// clang 14 cannot deduce aggregate template arguments without this guide.
template <typename... Cases> Overloaded(Cases...) -> Overloaded<Cases...>;

} // namespace quorvane
