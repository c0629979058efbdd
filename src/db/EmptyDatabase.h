#pragma once
// Makes an empty local database: a new embedded database file holding the
// nine tables (under the names the data module opens them by) with their
// indexes, all rendered from BuildTableDefs for the embedded driver kind.
// Used by the build-time template maker and whenever the template is missing.

#include <QString>

namespace pc {

// Creates `path` (which must not exist) and its tables; one commit at the end.
// Throws pc::fb::DbError; a half-made file is removed again.
// A served database ("host/port:path") is made on the server with the given
// user and password (empty: the defaults).
void CreateEmptyDatabase(const QString &path, const QString &user = {}, const QString &password = {});

} // namespace pc
