#pragma once
// Runs SQL scripts of the kind isql reads: statements ended by a terminator
// that "SET TERM" changes (so procedure and trigger bodies keep their own
// semicolons), comments, COMMIT / ROLLBACK, and isql's session settings
// (SET SQL DIALECT, SET NAMES, SET AUTODDL, ...), which are ignored.

#include "common/db/Firebird.h"

#include <string>
#include <string_view>
#include <vector>

// The statements of a script without their terminators and without the
// SET TERM commands, in order. Quoted texts and comments are never split.
std::vector<std::string> DivideScript(std::string_view script);

// Runs a script on the attachment. DDL is committed statement by statement (as
// isql's AUTODDL does) so later statements see it; the rest is committed at
// the end. The first failing statement rolls back what is not yet committed
// and throws FirebirdError with that statement's text in the message.
// CREATE DATABASE and CONNECT are refused: the attachment is given. A
// statement holding `segredo` (a password the script carries) keeps its text
// out of the error.
void ExecutaScript(Attachment& att, std::string_view script, const TextoSecreto& segredo = {});
