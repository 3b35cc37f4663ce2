#include "scenario.h"

#include <sstream>

namespace standin {
namespace {

bool ParseReaction(std::istringstream& words, Reaction& reaction) {
    std::string kind;
    if (!(words >> reaction.afterDownload >> kind >> reaction.delayMs)) {
        return false;
    }
    if (kind == "deliver") {
        reaction.kind = Reaction::Kind::kDeliver;
        reaction.code = 1000;
        std::getline(words >> std::ws, reaction.source);
        return !reaction.source.empty();
    }
    if (kind == "report") {
        reaction.kind = Reaction::Kind::kReport;
        if (!(words >> reaction.code)) {
            return false;
        }
        if (!(words >> reaction.final)) {
            reaction.final = 1;
        }
        return true;
    }
    return false;
}

bool ParseLine(const std::string& line, Scenario& scenario) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string directive;
    if (!(words >> directive)) {
        return true;
    }
    if (directive == "refuse-property") {
        long dispid = 0;
        return (words >> dispid) && scenario.refusedProperties.insert(dispid).second;
    }
    if (directive == "refuse-download") {
        int call = 0;
        return (words >> call) && scenario.refusedDownloads.insert(call).second;
    }
    if (directive == "download-status") {
        int call = 0;
        std::int16_t status = 0;
        return (words >> call >> status) && scenario.downloadStatus.emplace(call, status).second;
    }
    if (directive == "odd-result") {
        int call = 0;
        return (words >> call) && scenario.oddResults.insert(call).second;
    }
    if (directive == "running") {
        return static_cast<bool>(words >> scenario.runningAnswer);
    }
    if (directive == "by-reference") {
        scenario.byReference = true;
        return true;
    }
    if (directive == "watch-window") {
        return static_cast<bool>(words >> scenario.watchedWindow);
    }
    if (directive == "with-sender") {
        scenario.withSender = true;
        return true;
    }
    if (directive == "crash-at") {
        std::string step;
        words >> step;
        scenario.crashAt = step == "arrival"      ? CrashPoint::kArrival
                           : step == "conversion" ? CrashPoint::kConversion
                                                  : CrashPoint::kNone;
        return scenario.crashAt != CrashPoint::kNone;
    }
    if (directive == "after-download") {
        Reaction reaction;
        if (!ParseReaction(words, reaction)) {
            return false;
        }
        scenario.reactions.push_back(reaction);
        return true;
    }
    return false;
}

}  // namespace

bool ParseScenario(const std::string& text, Scenario& scenario, int& badLine) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!ParseLine(line, scenario)) {
            badLine = number;
            return false;
        }
    }
    return true;
}

}  // namespace standin
