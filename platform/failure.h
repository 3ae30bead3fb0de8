// Describing a failure caught with catch (...): the places that must catch every kind of failure
// still want to tell the user what went wrong.
#pragma once

#include <exception>
#include <string>

namespace platform {

// The message of the exception currently being handled; call only inside a catch block.
inline std::string CurrentFailureMessage() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an unknown failure";
  }
}

}  // namespace platform
