// Answering a query with what a shell command prints, for `mbus watch --reply`.
#pragma once

#include <mbus/mbus.h>

#include <string>

// Runs `command` through /bin/sh for `query` and sends its output to the query's source as the
// reply's result (as `mbus watch --help` tells). When the command fails, or its output or the
// query cannot make a reply, no reply is sent and stderr says why.
void AnswerQuery(MbItem query, const std::string& command);
