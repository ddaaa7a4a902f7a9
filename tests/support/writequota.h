#pragma once

extern "C" {
/// Limits the files under \a folder together to \a bytes for this process's writes; a null \a folder lifts it.
void corvanta_set_write_quota(const char* folder, long long bytes);
}
