#include "d2t/controller/drive_identity.h"

#include <algorithm>
#include <cstdio>

#include "d2t/scsi/drive_naming.h"
#include "d2t/util/log_text.h"

namespace d2t {
namespace identify {

namespace {

// A host drive's serial number, trimmed and made fit for a log line.
std::string serial_text(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
  return d2t::log_text(s.substr(b, e - b), 64);
}

bool binary(const d2t::tools::Element_Identity& e) { return e.code_set == 1; }

std::string address_text(std::uint16_t a) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", a);
  return buf;
}

std::string element_text(const d2t::tools::Element_Identity& e) {
  return "drive element " + std::to_string(e.drive_number) + " (" + address_text(e.address) + ")";
}

}  // namespace

const char* route_name(Route r) {
  switch (r) {
    case Route::NONE:
      return "none";
    case Route::ELEMENT_ADDRESS:
      return "element address";
    case Route::SERIAL:
      return "serial number";
    case Route::DESIGNATOR:
      return "designator";
  }
  return "?";
}

std::size_t Drive_Match::count(Route r) const {
  return static_cast<std::size_t>(std::count(route.begin(), route.end(), r));
}

Drive_Match match_drives(const std::string& library_serial,
                         const std::vector<d2t::tools::Element_Identity>& elements,
                         const std::vector<d2t::tools::Drive_Identity>& hosts,
                         bool every_host_read) {
  // Every tie, element by element, and the pairs whose evidence disagrees.
  std::vector<std::vector<std::pair<int, Route>>> ties(elements.size());
  std::vector<bool> element_doubtful(elements.size(), false), host_doubtful(hosts.size(), false);
  Drive_Match m;
  for (std::size_t e = 0; e < elements.size(); ++e) {
    for (std::size_t h = 0; h < hosts.size(); ++h) {
      const d2t::scsi::Naming n = d2t::scsi::drive_naming(library_serial, elements[e], hosts[h]);
      if (n.disagrees()) {
        element_doubtful[e] = host_doubtful[h] = true;
        m.disagreements.push_back(
            element_text(elements[e]) + ": " +
            (n.address == d2t::scsi::Verdict::YES
                 ? "host drive " + serial_text(hosts[h].unit_serial) +
                       " places itself there by element address, but the element's identifier "
                       "names another drive"
                 : "the element's identifier names host drive " +
                       serial_text(hosts[h].unit_serial) +
                       ", which places itself at element address " +
                       address_text(hosts[h].element_address)));
      } else if (n.names()) {
        ties[e].emplace_back(static_cast<int>(h), n.address == d2t::scsi::Verdict::YES
                                                      ? Route::ELEMENT_ADDRESS
                                                  : binary(elements[e]) ? Route::DESIGNATOR
                                                                        : Route::SERIAL);
      }
    }
  }
  // A host whose evidence disagrees anywhere is tied to nothing.
  for (auto& t : ties)
    t.erase(std::remove_if(t.begin(), t.end(),
                           [&](const std::pair<int, Route>& tie) {
                             return host_doubtful[static_cast<std::size_t>(tie.first)];
                           }),
            t.end());

  m.host.assign(elements.size(), -1);
  m.route.assign(elements.size(), Route::NONE);
  m.elsewhere.assign(elements.size(), false);
  std::vector<int> elements_of_host(hosts.size(), 0);
  for (const auto& t : ties)
    for (const auto& tie : t) ++elements_of_host[tie.first];

  for (std::size_t e = 0; e < elements.size(); ++e) {
    if (element_doubtful[e]) continue;
    const std::string where = element_text(elements[e]);
    if (ties[e].size() > 1) {
      std::string text = where + " names " + std::to_string(ties[e].size()) + " host drives:";
      for (const auto& tie : ties[e]) text += " " + serial_text(hosts[tie.first].unit_serial);
      m.conflicts.push_back(text);
      continue;
    }
    if (ties[e].empty()) {
      m.elsewhere[e] =
          d2t::scsi::attached_elsewhere(library_serial, elements[e], hosts, every_host_read);
      continue;
    }
    const int h = ties[e][0].first;
    if (elements_of_host[h] > 1) {
      m.conflicts.push_back(where + ": host drive " + serial_text(hosts[h].unit_serial) +
                            " is named by " + std::to_string(elements_of_host[h]) +
                            " drive elements");
      continue;
    }
    m.host[e] = h;
    m.route[e] = ties[e][0].second;
  }
  return m;
}

std::string media_type(const std::string& media_tag) {
  return media_tag.size() < 3 ? std::string() : media_tag.substr(media_tag.size() - 2);
}

std::uint64_t native_capacity(const std::string& type) {
  static const struct {
    const char* type;
    std::uint64_t bytes;
  } TABLE[] = {
      {"L5", 1500000000000ULL}, {"L6", 2500000000000ULL},  {"L7", 6000000000000ULL},
      {"M8", 9000000000000ULL}, {"L8", 12000000000000ULL}, {"L9", 18000000000000ULL},
  };
  for (const auto& row : TABLE)
    if (type == row.type) return row.bytes;
  return 0;
}

void assign_capacities(std::vector<d2t::Media_var>& medias,
                       const std::map<std::string, std::uint64_t>& known,
                       std::set<std::string>& guessed) {
  auto usable = [](const d2t::Media_var& m) { return !m.null() && !m->media_tag().empty(); };
  // Measured in this scan, by media type, then the first one at all; a
  // capacity taken from a guess stays a guess.
  struct Source {
    std::uint64_t bytes;
    bool guess;
  };
  std::map<std::string, Source> by_type;
  Source reference{0, false};
  for (const d2t::Media_var& m : medias) {
    if (!usable(m) || m->state() != d2t::MST_BLANK || m->capacity() == 0) continue;
    guessed.erase(m->media_tag());
    by_type.emplace(media_type(m->media_tag()), Source{m->capacity(), false});
    if (reference.bytes == 0) reference = {m->capacity(), false};
  }
  // Recorded by an earlier scan: measured ones taken as they are, and for
  // their type where nothing was measured now; a recorded guess yields to
  // any measurement of its type.
  for (const d2t::Media_var& m : medias) {
    if (!usable(m) || m->state() != d2t::MST_FULL) continue;
    auto k = known.find(m->media_tag());
    if (k == known.end() || k->second == 0) continue;
    const Source recorded{k->second, guessed.count(m->media_tag()) != 0};
    auto t = by_type.emplace(media_type(m->media_tag()), recorded).first;
    if (t->second.guess && !recorded.guess) t->second = recorded;
    if (reference.bytes == 0 || (reference.guess && !recorded.guess)) reference = recorded;
    if (recorded.guess) continue;  // given below, where a measurement may replace it
    m->capacity(k->second);
    m->state(d2t::MST_BLANK);
  }
  for (const d2t::Media_var& m : medias) {
    if (!usable(m) || m->state() != d2t::MST_FULL) continue;
    const std::string type = media_type(m->media_tag());
    auto t = by_type.find(type);
    Source capacity = t != by_type.end() ? t->second : Source{native_capacity(type), true};
    if (capacity.bytes == 0) capacity = {reference.bytes, true};
    if (capacity.bytes == 0) {
      m->state(d2t::MST_UNKNOWN);
      guessed.erase(m->media_tag());
    } else {
      m->capacity(capacity.bytes);
      m->state(d2t::MST_BLANK);
      if (capacity.guess)
        guessed.insert(m->media_tag());
      else
        guessed.erase(m->media_tag());
    }
  }
}

}  // namespace identify
}  // namespace d2t
