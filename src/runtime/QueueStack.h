#pragma once
// One sequence used as a stack (push + pop) or as a queue (push + shift). Not for
// concurrent change of one sequence.
#include <optional>
#include <stdexcept>
#include <utility>

namespace lumvane {

template <class Seq, class V>
void push(Seq& seq, V&& value) {
    seq.push_back(std::forward<V>(value));
}

// The last element, removed; nothing on an empty sequence.
template <class Seq>
std::optional<typename Seq::value_type> pop(Seq& seq) {
    if (seq.empty()) return std::nullopt;
    auto value = std::move(seq.back());
    seq.pop_back();
    return value;
}

// The first element, removed; throws std::out_of_range on an empty sequence.
template <class Seq>
typename Seq::value_type shift(Seq& seq) {
    if (seq.empty()) throw std::out_of_range("shift on an empty sequence");
    auto value = std::move(seq.front());
    seq.erase(seq.begin());
    return value;
}

}  // namespace lumvane
