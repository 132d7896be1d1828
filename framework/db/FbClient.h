// Access to the Firebird client library shared by the database components:
// the master interface, calls with a status object and the translation of
// Firebird's status into an exception carrying Firebird's own message text.
#pragma once

#include <firebird/Interface.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/db/FbDatabase.h"

namespace fw::fb {

// The client library's master interface. The first call prepares the library's
// environment (see FbDatabase.h) before the library reads its configuration.
// In a program that handles SIGTERM by then (a close request), the library's
// own engine shutdown on SIGTERM and SIGINT is refused: the program ends
// through its orderly path instead.
Firebird::IMaster* Master();
Firebird::IUtil* Util();

// Raises EFbError for a status that holds errors.
[[noreturn]] void RaiseStatus(Firebird::IStatus* status);
// Called once a database is attached: the engine is shut down in order when the
// program ends, before the libraries it loaded tear down the state its threads use.
void ShutdownEngineAtExit();

// Runs fn(ThrowStatusWrapper*) with a fresh status; a Firebird failure becomes EFbError.
template <typename F>
auto Call(F&& fn) -> decltype(fn(static_cast<Firebird::ThrowStatusWrapper*>(nullptr))) {
  Firebird::ThrowStatusWrapper status(Master()->getStatus());
  struct Disposer {
    Firebird::ThrowStatusWrapper& s;
    ~Disposer() { s.dispose(); }
  } disposer{status};
  try {
    return fn(&status);
  } catch (const Firebird::FbException& e) {
    RaiseStatus(e.getStatus());
  }
}

// As Call, for clean-up paths: failures are swallowed and reported as false.
template <typename F>
bool TryCall(F&& fn) noexcept {
  try {
    Call(std::forward<F>(fn));
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace fw::fb

namespace fw {

class TFbField;

// Moves values between the components' fields and Firebird's messages.
struct TFbMessage {
  // Reads every column of a message buffer laid out after meta into row.
  static void Decode(Firebird::ThrowStatusWrapper* st, Firebird::IMessageMetadata* meta,
                     const unsigned char* buffer, std::vector<TFbField>& row);
  // Builds the metadata of an input message whose fields take the types of the
  // given values (Firebird converts them to the parameters' own types) and
  // fills buffer. values holds one entry per field of inMeta (nullptr = null).
  // The caller releases the returned metadata.
  static Firebird::IMessageMetadata* Encode(Firebird::ThrowStatusWrapper* st,
                                            Firebird::IMessageMetadata* inMeta,
                                            const std::vector<const TFbField*>& values,
                                            std::vector<unsigned char>& buffer);
};

}  // namespace fw
