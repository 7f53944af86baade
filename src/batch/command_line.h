#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/replace_job.h"

namespace wendrel::batch {

/// What the command line asks for.
struct BatchRequest {
    core::JobInputs inputs;
    bool quiet = false;
    /// Stop, changing nothing, when the replacement-content file has warnings.
    bool strict = false;
    /// A dry run that prints what it would change as a unified diff.
    bool diff = false;
    enum class Colour { automatic, always, never };
    Colour colour = Colour::automatic;  // of the diff
    bool help = false;
    bool version = false;
    /// Instead of a job: take one back (`undo_id`, or the last one), or list those kept.
    enum class Action { replace, undo, list_jobs };
    Action action = Action::replace;
    std::string undo_id;
    /// Keep what the job replaces, so that it can be taken back.
    bool keep_undo = true;
    /// Sets the most space kept jobs may take, in MiB, before anything else.
    std::optional<std::uint64_t> undo_limit_mib;
};

/// Parses the batch program's arguments (bytes, as the shell passed them): options, then FIND
/// REPLACE PATH... or, with --change, PATH... A PATH that is a folder is looked at, to make it
/// a folder item.
class CommandLine {
  public:
    /// Fills `request`; on bad usage returns false and sets `error` to a one-line message.
    static bool parse(const std::vector<std::string>& args, BatchRequest& request,
                      std::string& error);
    static const char* help_text();
};

}  // namespace wendrel::batch
