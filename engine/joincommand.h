#pragma once

#include "joinhost.h"

namespace corvanta {

/// The join command: checks the list, runs Append or Merge mode into a fresh working file and hands the result
/// to the host's results window. Every outcome reaches the user through \a host.
void joinFiles(JoinHost& host);

} // namespace corvanta
