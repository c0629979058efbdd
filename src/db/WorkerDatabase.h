#pragma once
// A data module of its own for work on another thread: the same database
// (same place, kind and lock time-out) as a module already open, reached
// through a new attachment with its own transaction. Nothing is read into
// its datasets; the caller uses statements and queries.

#include <memory>

class Dialogs;
class MessageLog;

namespace pc {

class AppContext;
class TDM;

// Throws when the database cannot be attached.
std::unique_ptr<TDM> OpenAttachmentLike(const TDM &open, const AppContext &context, Dialogs &dialogs, MessageLog &log);

} // namespace pc
