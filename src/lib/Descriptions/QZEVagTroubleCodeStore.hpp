#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/Records/QZEValue.hpp"

namespace qz {

// Volkswagen-group fault definitions: each entry a DFCC text, a J2012 text (either may list
// several values separated by ",") and a definition. Lookups walk the entries from the last to
// the first, so later entries win. Safe to use from several threads.
class QZEVagTroubleCodeStore : public QZEObject {
  public:
    // A missing text is stored as the empty text.
    void addDfcc(const std::optional<std::string>& dfcc, const std::optional<std::string>& j2012,
                 const std::optional<std::string>& definition);

    // None when no entry lists the value.
    virtual std::optional<std::string> getJ2012ForDfcc(const std::optional<std::string>& dfcc);
    // The entry's whole DFCC text.
    virtual std::optional<std::string> getDfccForJ2012(const std::optional<std::string>& j2012);
    virtual std::optional<std::string> getDefinitionForDfcc(const std::optional<std::string>& dfcc);
    virtual std::optional<std::string> getDefinitionForJ20120(
        const std::optional<std::string>& j2012);

    // Number of entries.
    size_t count() const;

  private:
    // Index of the last entry whose list in `lists` holds `value`.
    std::optional<size_t> lastIndexListing(const std::vector<std::string>& lists,
                                           const std::optional<std::string>& value) const;

    mutable std::mutex m_mutex;
    std::vector<std::string> m_dfcc_array;
    std::vector<std::string> m_j2012_array;
    std::vector<std::string> m_definition_array;
};

// The shared Volkswagen-group definitions of "enhanceddiag/vag-modules-tcs.xml" (its "global"
// section), read on the first lookup and never again, even when reading failed.
class QZEVagGlobalTroubleCodeStore : public QZEVagTroubleCodeStore {
  public:
    std::optional<std::string> getJ2012ForDfcc(const std::optional<std::string>& dfcc) override;
    std::optional<std::string> getDfccForJ2012(const std::optional<std::string>& j2012) override;
    std::optional<std::string> getDefinitionForDfcc(
        const std::optional<std::string>& dfcc) override;
    std::optional<std::string> getDefinitionForJ20120(
        const std::optional<std::string>& j2012) override;

    // Reads the file unless it was read before.
    void lazyLoadFile();
    bool lazyLoaded() const;

  private:
    mutable std::mutex m_loadMutex;
    bool m_lazyLoaded = false;
};

}  // namespace qz
