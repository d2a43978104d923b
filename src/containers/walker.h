// The walkers' shared state and steps, for the package and archive walkers alone: nothing
// outside src/containers includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "containers/walk.h"

namespace kelp {

// The state of one walk.
struct Walk {
  const Handler& handler;
  WalkLimits limits;
  std::uint64_t entries_visited = 0;
  std::uint64_t output_charged = 0;
  std::uint64_t decoded_charged = 0;
  std::vector<const std::uint8_t*> nesting{};  // first byte of each container on the current path
  std::size_t archives_open = 0;               // archives on the current path
  const WorkBuffer* holder = nullptr;          // the work buffer the current container lies in
  std::deque<std::vector<WorkBuffer>> work_buffers{};  // per archive level, kept for the next one
  bool stopped = false;                                // a limit was reached: the walk ends
};

// Visits every entry of the package at the start of `package`, which runs to the end of the
// block that holds it.
void walk_package(Walk& walk, const std::string& name, Bytes package);

// Decodes every entry of the archive at the start of `archive` (which runs to the end of the
// block holding it) into a work buffer of its own, and hands on what each one decodes to.
void walk_archive(Walk& walk, const std::string& name, Bytes archive);

// Counts `bytes` decoded by the entry `name`; false, ending the walk, past the limit.
bool charge_decoded(Walk& walk, const std::string& name, std::uint64_t bytes);

// Hands on the entry whose first byte is `entry.bytes[0]`: classifies it, bounds it and, for a
// nested container, walks it.
void visit_entry(Walk& walk, Entry entry, ArchiveRule rule);

// Hands on an entry that cannot be visited, with a warning naming it.
void report_damaged(Walk& walk, Entry entry, const std::string& why);

}  // namespace kelp
