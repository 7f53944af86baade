#include "core/encoded_rules.h"

#include "core/encoding_sniffer.h"
#include "core/failure_reason.h"
#include "core/round_trip.h"
#include "core/transcoder.h"
#include "core/utf8_validator.h"

namespace wendrel::core {
EncodedRules::EncodedRules(RulesText rules, MatchOptions options, const std::string& mode)
    : options_(options) {
    bytes_ = std::make_shared<const JobRules>(std::move(rules.entries), options_);
    if (rules.text) {
        text_ = *rules.text == bytes_->entries
                    ? bytes_
                    : std::make_shared<const JobRules>(std::move(*rules.text), options_);
    }
    if (mode == kBytes) {
        detects_ = false;
        first_ = bytes_;
        return;
    }
    if (mode != kAuto && !mode.empty()) {
        detects_ = false;
        forced_ = TextEncoding::names_utf8(mode)
                      ? TextEncoding{TextEncoding::Kind::utf8, {}, 0}
                      : TextEncoding{TextEncoding::Kind::decoded, mode, 0};
    }
    first_ = text_ ? text_ : bytes_;
}

int EncodedRules::rules_for(const TextEncoding& encoding,
                            std::shared_ptr<const JobRules>& rules) const {
    if (encoding.kind == TextEncoding::Kind::bytes) {
        rules = bytes_;
        return 0;
    }
    if (text_ || encoding.kind == TextEncoding::Kind::utf8) {
        rules = text_ ? text_ : bytes_;
        return 0;
    }
    // A rules file no detector could place: most likely written in the targets' own encoding.
    const std::lock_guard lock(mutex_);
    auto [at, added] = read_as_.try_emplace(encoding.name);
    if (added) {
        Transcoder decode(encoding.name, "UTF-8");
        std::vector<Entry> entries;
        int error = decode.ok() ? 0 : failure::kUnknownEncoding;
        for (const Entry& entry : bytes_->entries) {
            Entry& text = entries.emplace_back();
            if (error == 0 && (decode.convert_whole(entry.find, text.find) != 0 ||
                               decode.convert_whole(entry.replace, text.replace) != 0)) {
                error = failure::kRulesNotInEncoding;
            }
        }
        at->second = {error, error == 0
                                 ? std::make_shared<const JobRules>(std::move(entries), options_)
                                 : nullptr};
    }
    rules = at->second.second;
    return at->second.first;
}

int EncodedRules::read_held(std::string& content, TextEncoding& encoding,
                            std::shared_ptr<const JobRules>& rules) const {
    encoding = {};
    if (detects_) {
        encoding = EncodingSniffer::of(content);
    } else if (forced_) {
        bool in_it = false;
        if (forced_->kind == TextEncoding::Kind::utf8) {
            Utf8Validator check;
            in_it = check.feed(content) && check.finish();
        } else {
            RoundTrip check(forced_->name);
            in_it = check.feed(content) && check.finish();
        }
        if (!in_it) {
            return failure::kNotInEncoding;
        }
        encoding = *forced_;
    }
    if (const int error = rules_for(encoding, rules)) {
        return error;
    }
    if (encoding.kind == TextEncoding::Kind::decoded) {
        Transcoder decode(encoding.name, "UTF-8");
        std::string text;
        if (decode.convert_whole(std::string_view(content).substr(encoding.bom), text) != 0) {
            return failure::kNotInEncoding;
        }
        content = std::move(text);
    }
    return 0;
}

}  // namespace wendrel::core
