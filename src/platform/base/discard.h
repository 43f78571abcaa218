// A result dropped on purpose. Writes, syncs, renames, copies and deletes answer
// results the compiler makes us look at; where nothing depends on one, the call says so
// by name and gives the reason, so that a reader never meets a silent drop.
#pragma once

namespace zuv::base {

template <class Result>
constexpr void let_go(const Result&, const char* /*reason*/) noexcept {}

}  // namespace zuv::base
