#pragma once

#include "engine/join/joinhost.h"

#include <stop_token>

namespace corvanta {

/// The join command: checks the list, runs Append, Merge or Combine mode into a fresh working file and hands the result
/// to the host's results window. Every outcome reaches the user through \a host. Once \a stop is requested the
/// run ends after the step running then, without a word to the host; its working folder goes either way.
void joinFiles(JoinHost& host, std::stop_token stop = {});

} // namespace corvanta
