#include "fastref.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace zelk::ref {

namespace {

const std::string ORDER = "34567890JQKA2XY";
const std::string SZ_T = "34567890JQKA";
const std::string LD_T = "3344556677889900JJQQKKAA";
const std::string F_T = "333444555666777888999000JJJQQQKKKAAA";

enum : uint16_t {
  B_D = 1 << 0,
  B_3 = 1 << 1,
  B_31 = 1 << 2,
  B_32 = 1 << 3,
  B_SZ = 1 << 4,
  B_LD = 1 << 5,
  B_ZD = 1 << 6,
  B_WZ = 1 << 7,
  B_411 = 1 << 8,
  B_422 = 1 << 9,
  B_F = 1 << 10,
  B_F11 = 1 << 11,
  B_F22 = 1 << 12,
};

int rk(char c) { return static_cast<int>(ORDER.find(c)); }

std::string sorted(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return rk(a) < rk(b); });
  return s;
}

// Every card of cand occurs in H (as a multiset).
bool contains(const std::string& H, const std::string& cand) {
  std::string rest = H;
  for (char ch : cand) {
    auto p = rest.find(ch);
    if (p == std::string::npos) return false;
    rest.erase(p, 1);
  }
  return true;
}

bool hasRun(const std::string& H, char ch, int k) {
  return H.find(std::string(static_cast<std::size_t>(k), ch)) != std::string::npos;
}

}  // namespace

std::vector<Play> generate(const std::string& H, const std::string& L, int T, uint16_t rules) {
  std::vector<Play> out;
  std::set<std::string> seen;  // sorted cards of every play so far, as findC compares them
  const int n = static_cast<int>(H.size());
  const int m = static_cast<int>(L.size());
  auto beats = [&](char first) { return T == 0 || rk(first) > rk(L[0]); };
  auto first = [&](int i) {
    return i == 0 || H[static_cast<std::size_t>(i)] != H[static_cast<std::size_t>(i - 1)];
  };
  auto at = [&](int i) { return H[static_cast<std::size_t>(i)]; };
  auto add = [&](const std::string& cards, int type, bool dedup) {
    std::string key = sorted(cards);
    if (dedup && seen.count(key)) return;
    seen.insert(key);
    out.push_back(Play{cards, type});
  };

  if ((rules & B_D) && (T == 0 || T == 2) && n >= 2)
    for (int i = 0; i <= n - 2; ++i)
      if (first(i) && at(i + 1) == at(i) && beats(at(i))) add(std::string(2, at(i)), 2, false);
  if ((rules & B_3) && (T == 0 || T == 30) && n >= 3)
    for (int i = 0; i <= n - 3; ++i)
      if (first(i) && at(i + 1) == at(i) && at(i + 2) == at(i) && beats(at(i)))
        add(std::string(3, at(i)), 30, false);
  if ((rules & B_SZ) && (T == 0 || T == 61))
    for (int w = 5; w <= 12 && w <= n; ++w) {
      if (T != 0 && w != m) continue;
      for (int s = 0; s <= 12 - w; ++s) {
        std::string cand = SZ_T.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(w));
        if (beats(cand[0]) && contains(H, cand)) add(cand, 61, false);
      }
    }
  auto threes = [&](auto&& body) {
    for (int i = 0; i <= n - 3; ++i)
      if (first(i) && at(i + 1) == at(i) && at(i + 2) == at(i) && beats(at(i))) body(at(i));
  };
  if ((rules & B_31) && (T == 0 || T == 31) && n >= 3)
    threes([&](char t) {
      for (int j = 0; j < n; ++j)
        if (first(j) && at(j) != t) add(std::string(3, t) + at(j), 31, false);
    });
  if ((rules & B_32) && (T == 0 || T == 32))
    threes([&](char t) {
      for (int j = 0; j <= n - 2; ++j)
        if (first(j) && at(j + 1) == at(j) && at(j) != t)
          add(std::string(3, t) + at(j) + at(j), 32, false);
    });
  auto fours = [&](auto&& body) {
    for (int i = 0; i <= n - 4; ++i)
      if (at(i) == at(i + 1) && at(i) == at(i + 2) && at(i) == at(i + 3) && beats(at(i)))
        body(at(i));
  };
  if ((rules & B_411) && (T == 0 || T == 41) && n >= 4)
    fours([&](char f) {
      for (int j = 0; j < n; ++j)
        for (int k = j + 1; k < n; ++k)
          if (at(j) != f && at(k) != f) add(std::string(4, f) + at(j) + at(k), 41, true);
    });
  if ((rules & B_422) && (T == 0 || T == 43) && n >= 4)
    fours([&](char f) {
      for (int j = 0; j <= n - 2; ++j)
        for (int k = j + 1; k <= n - 2; ++k)
          if (first(j) && first(k) && at(j + 1) == at(j) && at(k + 1) == at(k) && at(j) != at(k) &&
              at(j) != f && at(k) != f)
            add(std::string(4, f) + at(j) + at(j) + at(k) + at(k), 43, false);
    });
  if ((rules & B_LD) && (T == 0 || T == 71))
    for (int w = 6; w <= 20 && w <= n; w += 2) {
      if (T != 0 && w != m) continue;
      for (int s = 0; s + w <= 24; s += 2) {
        std::string cand = LD_T.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(w));
        if (!beats(cand[0])) continue;
        bool ok = contains(H, cand);
        for (int p = 0; ok && p < w; p += 2) ok = hasRun(H, cand[static_cast<std::size_t>(p)], 2);
        if (ok) add(cand, 71, false);
      }
    }
  auto slice = [&](int s, int w) {
    return F_T.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(w));
  };
  auto triplesStand = [&](const std::string& cand) {
    for (std::size_t p = 0; p < cand.size(); p += 3)
      if (!hasRun(H, cand[p], 3)) return false;
    return contains(H, cand);
  };
  if ((rules & B_F) && (T == 0 || T == 51))
    for (int w = 6; w <= 21 && w <= n; w += 3) {
      if (T != 0 && w != m) continue;
      for (int s = 0; s + w <= 36; s += 3) {
        std::string cand = slice(s, w);
        if (beats(cand[0]) && triplesStand(cand)) add(cand, 51, false);
      }
    }
  auto inRun = [](const std::string& run, char ch) { return run.find(ch) != std::string::npos; };
  if ((rules & B_F11) && (T == 0 || T == 52) && n >= 8 && (T == 0 || m == 8))
    for (int s = 0; s <= 30; s += 3) {
      std::string run = slice(s, 6);
      if (!beats(run[0]) || !triplesStand(run)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          if (!inRun(run, at(i)) && !inRun(run, at(j))) add(run + at(i) + at(j), 52, true);
    }
  if ((rules & B_F11) && (T == 0 || T == 52) && n >= 12 && (T == 0 || m == 12))
    for (int s = 0; s <= 27; s += 3) {
      std::string run = slice(s, 9);
      if (!beats(run[0]) || !triplesStand(run)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          for (int k = j + 1; k < n; ++k)
            if (!inRun(run, at(i)) && !inRun(run, at(j)) && !inRun(run, at(k)))
              add(run + at(i) + at(j) + at(k), 52, true);
    }
  auto pairAt = [&](int i) { return i <= n - 2 && first(i) && at(i + 1) == at(i); };
  if ((rules & B_F22) && (T == 0 || T == 53) && n >= 10 && (T == 0 || m == 10))
    for (int s = 0; s <= 30; s += 3) {
      std::string run = slice(s, 6);
      if (!beats(run[0]) || !triplesStand(run)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          if (pairAt(i) && pairAt(j) && at(i) != at(j) && !inRun(run, at(i)) && !inRun(run, at(j)))
            add(run + at(i) + at(i) + at(j) + at(j), 53, false);
    }
  if ((rules & B_F22) && (T == 0 || T == 53) && n >= 15 && (T == 0 || m == 15))
    for (int s = 0; s <= 27; s += 3) {
      std::string run = slice(s, 9);
      if (!beats(run[0]) || !triplesStand(run)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          for (int k = j + 1; k < n; ++k)
            if (pairAt(i) && pairAt(j) && pairAt(k) && !inRun(run, at(i)) && !inRun(run, at(j)) &&
                !inRun(run, at(k)))
              add(run + at(i) + at(i) + at(j) + at(j) + at(k) + at(k), 53, false);
    }
  if ((rules & B_ZD) && n >= 4)
    for (int i = 0; i <= n - 4; ++i)
      if (at(i) == at(i + 1) && at(i) == at(i + 2) && at(i) == at(i + 3)) {
        bool ok = true;
        if (T == 81) ok = rk(at(i)) > rk(L[0]);
        if (T == 91) ok = false;
        if (ok) add(std::string(4, at(i)), 81, false);
      }
  if ((rules & B_WZ) && H.find("XY") != std::string::npos) add("XY", 91, false);
  if (T == 0 || T == 1)
    for (int i = 0; i < n; ++i)
      if (first(i) && beats(at(i))) add(std::string(1, at(i)), 1, false);
  if (T != 0) out.push_back(Play{"", 0});
  return out;
}

namespace {

using Key = std::tuple<std::string, std::string, std::string, int, char>;

std::string removeCards(std::string hand, const std::string& cards) {
  for (char ch : cards) hand.erase(hand.find(ch), 1);
  return hand;
}

char solveMemo(const std::string& u1, const std::string& u2, const std::string& L, int T, char turn,
               uint16_t rules, std::map<Key, char>& memo) {
  if (u1.empty()) return '1';
  if (u2.empty()) return '2';
  Key key{u1, u2, L, T, turn};
  auto it = memo.find(key);
  if (it != memo.end()) return it->second;
  const std::string& H = turn == '2' ? u2 : u1;
  char other = turn == '2' ? '1' : '2';
  char result = other;
  for (const Play& p : generate(H, L, T, rules)) {
    std::string h = removeCards(H, p.cards);
    char r = turn == '2' ? solveMemo(u1, h, p.cards, p.type, other, rules, memo)
                         : solveMemo(h, u2, p.cards, p.type, other, rules, memo);
    if (r == turn) {
      result = turn;
      break;
    }
  }
  memo.emplace(key, result);
  return result;
}

}  // namespace

char solve(const std::string& u1, const std::string& u2, const std::string& L, int T, char turn,
           uint16_t rules) {
  std::map<Key, char> memo;
  return solveMemo(sorted(u1), sorted(u2), L, T, turn, rules, memo);
}

Play firstWinningPlay(const std::string& u1in, const std::string& u2in, const std::string& L, int T,
                      char turn, uint16_t rules, bool& found) {
  std::map<Key, char> memo;
  std::string u1 = sorted(u1in), u2 = sorted(u2in);
  const std::string& H = turn == '2' ? u2 : u1;
  char other = turn == '2' ? '1' : '2';
  found = false;
  for (const Play& p : generate(H, L, T, rules)) {
    std::string h = removeCards(H, p.cards);
    char r = turn == '2' ? solveMemo(u1, h, p.cards, p.type, other, rules, memo)
                         : solveMemo(h, u2, p.cards, p.type, other, rules, memo);
    if (r == turn) {
      found = true;
      return p;
    }
  }
  return Play{"", -1};
}

}  // namespace zelk::ref
