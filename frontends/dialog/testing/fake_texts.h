// The texts of the tests' fake hosts and environments: every key's text is
// "T:<key>" (so that texts can be told apart in assertions) unless one is
// set, and an empty one set means "the host has no text". The keys asked for
// are recorded in order. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace wavrel::testing {

class FakeTexts {
 public:
  void SetText(const std::u16string& key, const std::u16string& text) {
    std::lock_guard lock(m_textMutex);
    m_overrides[key] = text;
  }
  std::vector<std::u16string> AskedKeys() const {
    std::lock_guard lock(m_textMutex);
    return m_asked;
  }

 protected:
  /// The text of key, null when it has none; valid while this object lives.
  /// record: the key counts as asked for.
  const char16_t* Lookup(const std::u16string& key, bool record) {
    std::lock_guard lock(m_textMutex);
    if (record) m_asked.push_back(key);
    const auto over = m_overrides.find(key);
    if (over != m_overrides.end()) return over->second.empty() ? nullptr : over->second.c_str();
    return m_texts.try_emplace(key, u"T:" + key).first->second.c_str();
  }

 private:
  mutable std::mutex m_textMutex;
  std::map<std::u16string, std::u16string> m_texts;      // stable storage of returned texts
  std::map<std::u16string, std::u16string> m_overrides;  // ditto
  std::vector<std::u16string> m_asked;
};

}  // namespace wavrel::testing
