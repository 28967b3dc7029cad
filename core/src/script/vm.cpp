#include "script/vm.hpp"

#include <fmt/format.h>

namespace ostrel_core::script::vm {

void ScriptError::set_detail(std::string detail) {
  detail_ = std::move(detail);
  detail_source_ = detail_.empty() ? nullptr : make_source(TextError(detail_));
}

ScriptError ScriptError::vm(std::string backend, std::string detail) {
  ScriptError e(ScriptErrorKind::Vm);
  e.backend_ = std::move(backend);
  e.set_detail(std::move(detail));
  return e;
}

ScriptError ScriptError::load(std::string mod_id, std::string detail) {
  ScriptError e(ScriptErrorKind::Load);
  e.mod_id_ = std::move(mod_id);
  e.set_detail(std::move(detail));
  return e;
}

ScriptError ScriptError::runtime(std::string mod_id, std::string context, std::string detail) {
  ScriptError e(ScriptErrorKind::Runtime);
  e.mod_id_ = std::move(mod_id);
  e.context_ = std::move(context);
  e.set_detail(std::move(detail));
  return e;
}

ScriptError ScriptError::budget_exceeded(std::string mod_id, std::string context) {
  ScriptError e(ScriptErrorKind::BudgetExceeded);
  e.mod_id_ = std::move(mod_id);
  e.context_ = std::move(context);
  return e;
}

ScriptError ScriptError::out_of_memory(std::string mod_id, std::string context) {
  ScriptError e(ScriptErrorKind::OutOfMemory);
  e.mod_id_ = std::move(mod_id);
  e.context_ = std::move(context);
  return e;
}

ScriptError ScriptError::registration_closed(std::string mod_id, std::string what) {
  ScriptError e(ScriptErrorKind::RegistrationClosed);
  e.mod_id_ = std::move(mod_id);
  e.what_ = std::move(what);
  return e;
}

std::string ScriptError::message() const {
  switch (kind_) {
    case ScriptErrorKind::Vm:
      return fmt::format("could not initialise the {} script VM", backend_);
    case ScriptErrorKind::Load:
      return fmt::format("mod `{}` failed to load", mod_id_);
    case ScriptErrorKind::Runtime:
      return fmt::format("mod `{}` errored in {}", mod_id_, context_);
    case ScriptErrorKind::BudgetExceeded:
      return fmt::format("mod `{}` exceeded its instruction budget in {}", mod_id_, context_);
    case ScriptErrorKind::OutOfMemory:
      return fmt::format("mod `{}` exceeded the script memory limit in {}", mod_id_, context_);
    case ScriptErrorKind::RegistrationClosed:
      return fmt::format("mod `{}` tried to register `{}` after registration closed", mod_id_, what_);
  }
  return {};
}

std::string ScriptError::with_detail() const {
  if (detail_.empty()) return message();
  return fmt::format("{}: {}", message(), detail_);
}

std::string ScriptError::debug() const {
  switch (kind_) {
    case ScriptErrorKind::Vm:
      return fmt::format("Vm {{ backend: {:?}, detail: {:?} }}", backend_, detail_);
    case ScriptErrorKind::Load:
      return fmt::format("Load {{ mod_id: {:?}, detail: {:?} }}", mod_id_, detail_);
    case ScriptErrorKind::Runtime:
      return fmt::format("Runtime {{ mod_id: {:?}, context: {:?}, detail: {:?} }}", mod_id_, context_,
                         detail_);
    case ScriptErrorKind::BudgetExceeded:
      return fmt::format("BudgetExceeded {{ mod_id: {:?}, context: {:?} }}", mod_id_, context_);
    case ScriptErrorKind::OutOfMemory:
      return fmt::format("OutOfMemory {{ mod_id: {:?}, context: {:?} }}", mod_id_, context_);
    case ScriptErrorKind::RegistrationClosed:
      return fmt::format("RegistrationClosed {{ mod_id: {:?}, what: {:?} }}", mod_id_, what_);
  }
  return {};
}

}  // namespace ostrel_core::script::vm
