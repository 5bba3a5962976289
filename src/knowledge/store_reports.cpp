#include "knowledge/store_reports.h"

std::string damageReport(ExperienceDatabase& database) {
    if (!database.takeDamageNotice()) return "";
    return "MESSAGE The experience file " + database.path() +
           " is damaged (a link points outside it): nothing is stored into it in this run; \"db check\" shows more";
}

std::string sizeLimitReport(const ExperienceDatabase& database) {
    if (!database.isFull()) return "";
    if (database.sizeLimit() > 0)
        return "MESSAGE The experience file " + database.path() + " would pass its cap of " +
               std::to_string(database.sizeLimit()) +
               " bytes: the game is not stored, and nothing more is learned in this run";
    return "MESSAGE The experience file " + database.path() + " is full (" + std::to_string(database.recordsKnown()) +
           " of " + std::to_string(MaxRecords) + " records): nothing more is stored into it";
}

namespace {

std::string withWords(std::string line, const LineCut& cut) {
    const std::string words = cut.words();
    return (words.empty() ? line : line + " " + words) + "\n";
}

}  // namespace

std::string refusalReport(ExperienceDatabase& database, Preparation outcome, const LineCut& cut) {
    if (outcome == Preparation::Refused) return withWords("MESSAGE Saving to DB failed.", cut);
    // A full file says why for every store; a damaged one is named once, and
    // every refused game still says it failed.
    if (database.isFull()) return sizeLimitReport(database) + "\n";
    if (!database.isOpen()) return "MESSAGE Saving to DB failed. No experience file is open\n";
    if (database.isDamaged()) {
        const std::string damage = damageReport(database);
        return (damage.empty() ? "" : damage + "\n") + "MESSAGE Saving to DB failed. The file is damaged\n";
    }
    return "MESSAGE Saving to DB failed. File error\n";
}

std::string savedReport(int index, const LineCut& cut) {
    return withWords("MESSAGE Saved to DB. (" + std::to_string(index) + ")", cut);
}
