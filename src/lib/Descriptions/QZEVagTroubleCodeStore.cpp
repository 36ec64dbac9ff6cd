#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Descriptions/VagTroubleCodeParser.hpp"

namespace qz {

void QZEVagTroubleCodeStore::addDfcc(const std::optional<std::string>& dfcc,
                                     const std::optional<std::string>& j2012,
                                     const std::optional<std::string>& definition) {
    std::lock_guard lock(m_mutex);
    m_dfcc_array.push_back(dfcc.value_or(""));
    m_j2012_array.push_back(j2012.value_or(""));
    m_definition_array.push_back(definition.value_or(""));
}

size_t QZEVagTroubleCodeStore::count() const {
    std::lock_guard lock(m_mutex);
    return m_dfcc_array.size();
}

std::optional<size_t> QZEVagTroubleCodeStore::lastIndexListing(
    const std::vector<std::string>& lists, const std::optional<std::string>& value) const {
    if (!value) return std::nullopt;
    for (size_t i = lists.size(); i-- > 0;)
        if (definitionxml::listContains(lists[i], *value)) return i;
    return std::nullopt;
}

std::optional<std::string> QZEVagTroubleCodeStore::getJ2012ForDfcc(
    const std::optional<std::string>& dfcc) {
    std::lock_guard lock(m_mutex);
    auto i = lastIndexListing(m_dfcc_array, dfcc);
    if (!i) return std::nullopt;
    return m_j2012_array[*i];
}

std::optional<std::string> QZEVagTroubleCodeStore::getDfccForJ2012(
    const std::optional<std::string>& j2012) {
    std::lock_guard lock(m_mutex);
    auto i = lastIndexListing(m_j2012_array, j2012);
    if (!i) return std::nullopt;
    return m_dfcc_array[*i];
}

std::optional<std::string> QZEVagTroubleCodeStore::getDefinitionForDfcc(
    const std::optional<std::string>& dfcc) {
    std::lock_guard lock(m_mutex);
    auto i = lastIndexListing(m_dfcc_array, dfcc);
    if (!i) return std::nullopt;
    return m_definition_array[*i];
}

std::optional<std::string> QZEVagTroubleCodeStore::getDefinitionForJ20120(
    const std::optional<std::string>& j2012) {
    std::lock_guard lock(m_mutex);
    auto i = lastIndexListing(m_j2012_array, j2012);
    if (!i) return std::nullopt;
    return m_definition_array[*i];
}

void QZEVagGlobalTroubleCodeStore::lazyLoadFile() {
    std::lock_guard lock(m_loadMutex);
    if (m_lazyLoaded) return;
    if (auto path = DefinitionFile::path("vag-modules-tcs", "xml")) {
        if (auto data = DefinitionFile::load(*path)) {
            VagTroubleCodeParser parser(*this);
            parser.parseDocumentWithFile(std::move(*data));
        }
    }
    m_lazyLoaded = true;  // also when the file was missing or did not parse
}

bool QZEVagGlobalTroubleCodeStore::lazyLoaded() const {
    std::lock_guard lock(m_loadMutex);
    return m_lazyLoaded;
}

std::optional<std::string> QZEVagGlobalTroubleCodeStore::getJ2012ForDfcc(
    const std::optional<std::string>& dfcc) {
    lazyLoadFile();
    return QZEVagTroubleCodeStore::getJ2012ForDfcc(dfcc);
}

std::optional<std::string> QZEVagGlobalTroubleCodeStore::getDfccForJ2012(
    const std::optional<std::string>& j2012) {
    lazyLoadFile();
    return QZEVagTroubleCodeStore::getDfccForJ2012(j2012);
}

std::optional<std::string> QZEVagGlobalTroubleCodeStore::getDefinitionForDfcc(
    const std::optional<std::string>& dfcc) {
    lazyLoadFile();
    return QZEVagTroubleCodeStore::getDefinitionForDfcc(dfcc);
}

std::optional<std::string> QZEVagGlobalTroubleCodeStore::getDefinitionForJ20120(
    const std::optional<std::string>& j2012) {
    lazyLoadFile();
    return QZEVagTroubleCodeStore::getDefinitionForJ20120(j2012);
}

}  // namespace qz
