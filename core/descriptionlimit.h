#pragma once

#include <QString>

// The marketplace takes an item's description of at most 500,000 characters: a longer one is
// refused wherever it would come into the program (the editor, the CSV import, the predecessor
// import), so that no article holds a description that can never be listed. The limit is on
// the description as it is sent, with its placeholders filled: the listing checks that again.
namespace DescriptionLimit {

constexpr int kMaxChars = 500000;

// Empty when `description` is within the limit, otherwise the German reason, naming its
// length and the limit, as one sentence.
QString refusal(const QString &description);
// The German reason for a description within the limit that passes it once its placeholders
// ($frei_01$ to $frei_05$, $notes$) are filled with the article's free texts and notes.
QString filledRefusal();

} // namespace DescriptionLimit
