// The entry storage of tables: order, lookup and positions after long runs of
// removals at the front, middle and end mixed with appends, across the size
// where lookup switches between a linear search and the hash index, and
// after copies. Each script runs against a plain vector of keys as the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "table.hpp"

using namespace morvelan;

namespace {

enum class Op {
    Append,           // arg new keys at the end
    RemoveFront,      // arg times: the first entry
    RemoveBack,       // arg times: the last entry
    RemoveMiddle,     // arg times: the entry at size / 2
    RemoveNear,       // arg times: the entry at position 3 (or the last)
    RemoveTenth,      // arg times: the entry at size / 10
    RemoveLateTenth,  // arg times: the entry at size - 1 - size / 10
    RemoveKey,        // arg times: the entry at size - 4 (or the first), found by key
    Rotate,           // arg times: the first entry removed and appended again
    Copy,             // the map replaced by a copy (arg 0) or a copy-assignment (arg 1)
    Move,             // the map moved into a new one and back (arg unused)
};

struct Step {
    Op op;
    int arg;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

class Model {
public:
    void append(EntryMap& m) {
        const std::string k = "key" + std::to_string(next_);
        m.append(Key(k), TreeItem::integer(next_));
        keys_.push_back(next_++);
    }
    // Removes the i-th entry of the model, found at its position in the map.
    void remove(EntryMap& m, std::size_t i) {
        ASSERT_LT(i, keys_.size());
        const std::ptrdiff_t at = m.find(name(keys_[i]));
        ASSERT_GE(at, 0);
        Entry out = m.remove_at(static_cast<std::size_t>(at));
        EXPECT_EQ(out.key.text(), name(keys_[i]));
        EXPECT_EQ(out.item.as_integer(), keys_[i]);
        removed_.push_back(keys_[i]);
        keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    std::size_t size() const { return keys_.size(); }
    static std::string name(std::int64_t k) { return "key" + std::to_string(k); }

    // The map holds the model's keys in its order, each found at its position,
    // with holes (removed keys, None items) only between entries, and at most
    // as many of them as entries; the last removed keys are gone.
    void check(const EntryMap& m, const std::string& where) const {
        ASSERT_EQ(m.count(), keys_.size()) << where;
        EXPECT_EQ(m.empty(), keys_.empty()) << where;
        ASSERT_EQ(static_cast<std::size_t>(m.end() - m.begin()), m.size()) << where;
        ASSERT_LE(m.size() - m.count(), m.count()) << where;
        if (!m.empty()) {
            EXPECT_FALSE(m.at(0).key.is_removed()) << where;
            EXPECT_FALSE(m.at(m.size() - 1).key.is_removed()) << where;
        }
        std::size_t i = 0;
        for (std::size_t at = 0; at < m.size(); ++at) {
            if (m.at(at).key.is_removed()) {
                ASSERT_TRUE(m.at(at).item.is_none()) << where << " hole at " << at;
                continue;
            }
            ASSERT_LT(i, keys_.size()) << where;
            const std::string k = name(keys_[i]);
            ASSERT_EQ(m.at(at).key.text(), k) << where << " at " << at;
            ASSERT_EQ(m.at(at).item.as_integer(), keys_[i]) << where << " at " << at;
            ASSERT_EQ(&m.begin()[at], &m.at(at)) << where;
            ASSERT_EQ(m.find(k), static_cast<std::ptrdiff_t>(at)) << where << " find " << k;
            ASSERT_EQ(m.get(k), &m.at(at)) << where;
            ++i;
        }
        ASSERT_EQ(i, keys_.size()) << where;
        const std::size_t tail = std::min<std::size_t>(removed_.size(), 4);
        for (std::size_t j = removed_.size() - tail; j < removed_.size(); ++j)
            ASSERT_EQ(m.find(name(removed_[j])), -1) << where << " removed " << removed_[j];
        EXPECT_EQ(m.find("absent"), -1) << where;
        EXPECT_EQ(m.find(""), -1) << where;  // a hole's key is no key
    }

private:
    std::vector<std::int64_t> keys_;
    std::vector<std::int64_t> removed_;
    std::int64_t next_ = 0;
};

void run(const Case& c) {
    EntryMap map;
    Model model;
    for (std::size_t s = 0; s < c.steps.size(); ++s) {
        const Step& st = c.steps[s];
        const std::string where = std::string(c.name) + " step " + std::to_string(s);
        const int rounds = st.op == Op::Copy || st.op == Op::Move ? 1 : st.arg;
        for (int r = 0; r < rounds; ++r) {
            const std::string at = where + " round " + std::to_string(r);
            switch (st.op) {
                case Op::Append: model.append(map); break;
                case Op::RemoveFront: model.remove(map, 0); break;
                case Op::RemoveBack: model.remove(map, model.size() - 1); break;
                case Op::RemoveMiddle: model.remove(map, model.size() / 2); break;
                case Op::RemoveNear: model.remove(map, std::min<std::size_t>(3, model.size() - 1)); break;
                case Op::RemoveTenth: model.remove(map, model.size() / 10); break;
                case Op::RemoveLateTenth: model.remove(map, model.size() - 1 - model.size() / 10); break;
                case Op::RemoveKey: model.remove(map, model.size() >= 4 ? model.size() - 4 : 0); break;
                case Op::Rotate:
                    model.remove(map, 0);
                    model.append(map);
                    break;
                case Op::Copy:
                    if (st.arg == 0) {
                        EntryMap copy(map);
                        map.clear();
                        model.check(copy, at + " (copy)");
                        map = std::move(copy);
                    } else {
                        EntryMap copy;
                        copy = map;
                        model.check(copy, at + " (copy-assigned)");
                        map = std::move(copy);
                    }
                    break;
                case Op::Move: {
                    EntryMap moved(std::move(map));
                    EXPECT_TRUE(map.empty()) << at;
                    EXPECT_EQ(map.find(Model::name(0)), -1) << at;
                    map = std::move(moved);
                    break;
                }
            }
            model.check(map, at);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

class EntryMapScript : public ::testing::TestWithParam<Case> {};

TEST_P(EntryMapScript, KeepsOrderAndLookup) { run(GetParam()); }

const Case kCases[] = {
    // Removals from the front (a header taking over a table, del in insertion
    // order) down through the linear size and back up.
    {"front", {{Op::Append, 100}, {Op::RemoveFront, 95}, {Op::Append, 20}, {Op::RemoveFront, 25}}},
    // popitem until empty.
    {"back", {{Op::Append, 100}, {Op::RemoveBack, 100}, {Op::Append, 12}, {Op::RemoveBack, 5}}},
    // The middle: holes, squeezed out once they are as many as the entries.
    {"middle", {{Op::Append, 600}, {Op::RemoveMiddle, 500}, {Op::Append, 10}, {Op::RemoveMiddle, 110}}},
    // Near either end of a large map, each found by key.
    {"near ends", {{Op::Append, 700}, {Op::RemoveNear, 40}, {Op::RemoveKey, 40}, {Op::RemoveBack, 3}}},
    // Holes near either end, their neighbours sharing probe runs in the index.
    {"tenths", {{Op::Append, 1000}, {Op::RemoveTenth, 300}, {Op::RemoveLateTenth, 300}}},
    // Remove the first, append: the moved-from front slots are reclaimed
    // again and again.
    {"rotate", {{Op::Append, 50}, {Op::Rotate, 400}, {Op::RemoveFront, 45}, {Op::Rotate, 30}}},
    // Everything mixed, repeatedly.
    {"interleaved",
     {{Op::Append, 30},
      {Op::RemoveNear, 1},
      {Op::Append, 2},
      {Op::RemoveBack, 1},
      {Op::RemoveMiddle, 1},
      {Op::RemoveKey, 1},
      {Op::RemoveFront, 2},
      {Op::Append, 5},
      {Op::RemoveMiddle, 3},
      {Op::Rotate, 7},
      {Op::RemoveKey, 4},
      {Op::Append, 1},
      {Op::RemoveFront, 9},
      {Op::RemoveBack, 4},
      {Op::RemoveMiddle, 9},
      {Op::Append, 40},
      {Op::RemoveNear, 20},
      {Op::RemoveBack, 20}}},
    // Across the linear/hash boundary (8 entries) both ways, one entry at a time.
    {"boundary",
     {{Op::Append, 8},
      {Op::Append, 1},
      {Op::RemoveBack, 1},
      {Op::Append, 1},
      {Op::RemoveFront, 1},
      {Op::Append, 1},
      {Op::RemoveMiddle, 1},
      {Op::Append, 2},
      {Op::RemoveNear, 3},
      {Op::Append, 3},
      {Op::RemoveKey, 2},
      {Op::Append, 1},
      {Op::RemoveFront, 9}}},
    // A large map shrunk to a few entries (the index shrinks, then goes) and grown again.
    {"shrink", {{Op::Append, 1000}, {Op::RemoveFront, 990}, {Op::Append, 100}, {Op::RemoveBack, 105}}},
    // Copies and moves of maps with removed front slots.
    {"copies",
     {{Op::Append, 40},
      {Op::RemoveFront, 10},
      {Op::Copy, 0},
      {Op::RemoveFront, 5},
      {Op::Append, 5},
      {Op::RemoveFront, 3},
      {Op::Copy, 1},
      {Op::RemoveMiddle, 4},
      {Op::Move, 1},
      {Op::Append, 2},
      {Op::RemoveFront, 20},
      {Op::Copy, 0},
      {Op::Append, 3}}},
    // Copies and moves of maps with holes, linear and indexed.
    {"copied holes",
     {{Op::Append, 12},
      {Op::RemoveNear, 3},
      {Op::Copy, 0},
      {Op::RemoveKey, 2},
      {Op::Copy, 1},
      {Op::Append, 60},
      {Op::RemoveMiddle, 20},
      {Op::Copy, 0},
      {Op::Move, 1},
      {Op::RemoveTenth, 10},
      {Op::Copy, 1},
      {Op::Append, 5}}},
};

INSTANTIATE_TEST_SUITE_P(Removal, EntryMapScript, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string n = info.param.name;
                             std::replace(n.begin(), n.end(), ' ', '_');
                             return n;
                         });

}  // namespace
