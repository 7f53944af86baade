#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/match_options.h"
#include "core/new_content.h"
#include "core/replace_list_reader.h"
#include "core/text_encoding.h"

namespace wendrel::core {

/// A job's entries in the form each target needs: the rules file's own bytes for a file whose
/// encoding is not known, UTF-8 for a UTF-8 file and for the text of a file read in another
/// encoding. How targets are read is the job's choice: each found by its content ("auto"),
/// all as bytes ("bytes"), or all in one encoding (its iconv name). Safe to share between
/// threads.
class EncodedRules {
  public:
    static constexpr std::string_view kAuto = "auto";
    static constexpr std::string_view kBytes = "bytes";

    EncodedRules(RulesText rules, MatchOptions options, const std::string& mode);

    /// Whether each target's encoding is found from its content.
    bool detects() const { return detects_; }
    /// The encoding every target is read in, when the job names one.
    const std::optional<TextEncoding>& forced() const { return forced_; }
    /// The rules to look at a target with before its encoding is known: those most targets
    /// turn out to need.
    const std::shared_ptr<const JobRules>& first() const { return first_; }
    /// The rules for a target in `encoding`: 0, or why its entries cannot be matched there.
    int rules_for(const TextEncoding& encoding, std::shared_ptr<const JobRules>& rules) const;
    /// The entries as the job shows and counts them.
    const std::vector<Entry>& entries() const { return first_->entries; }

    /// Reads a whole file held in memory (a preview) as the job reads its targets: `content`
    /// becomes its text (decoded to UTF-8 when its encoding is another one, without the byte
    /// order mark), with `encoding` and `rules` set. 0, or why the file cannot be read so.
    int read_held(std::string& content, TextEncoding& encoding,
                  std::shared_ptr<const JobRules>& rules) const;

  private:
    const MatchOptions options_;
    bool detects_ = true;
    std::optional<TextEncoding> forced_;
    std::shared_ptr<const JobRules> bytes_;  // the rules file's own bytes
    std::shared_ptr<const JobRules> text_;   // UTF-8; null when the rules' encoding is unknown
    std::shared_ptr<const JobRules> first_;
    // When the rules' encoding is unknown, they are taken to be in the target's: per encoding,
    // the rules so read, or why they cannot be.
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::pair<int, std::shared_ptr<const JobRules>>> read_as_;
};

}  // namespace wendrel::core
