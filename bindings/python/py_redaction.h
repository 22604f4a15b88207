// Python side of secret redaction: the SecretMatch and RedactResult result classes.
#pragma once

#include <string>

#include "classes.h"
#include "redaction.h"

namespace vardex::py {

template <>
struct Record<SecretMatch> {
  static constexpr const char* name = "SecretMatch";
  static constexpr Field fields[] = {
      field<&SecretMatch::kind>("kind"),
      field<&SecretMatch::length>("length"),
  };
  static std::string repr(const SecretMatch& m);
};

template <>
struct Record<RedactResult> {
  static constexpr const char* name = "RedactResult";
  static constexpr Field fields[] = {
      field<&RedactResult::redacted>("redacted"),
      field<&RedactResult::found>("found"),
  };
  static std::string repr(const RedactResult& r);
};

}  // namespace vardex::py
