#include "app/status_command.h"

#include <chrono>
#include <thread>

#include "app/status_endpoint.h"

namespace tidewell {

namespace {

constexpr int kAnswerWaitMs = 5000;
// A busy program (kMaxClients at once) is asked again, for about two seconds.
constexpr int kBusyTries = 10;

int exitStatusOf(const std::string& answer) {
    if (answer.starts_with("tidewell: ok") || answer.starts_with("{\"health\": \"ok\"")) return 0;
    if (answer.starts_with("tidewell: degraded") || answer.starts_with("{\"health\": \"degraded\""))
        return 1;
    return answer.starts_with("error:") ? 3 : 0;
}

}  // namespace

int runStatusCommand(const Options& options, std::FILE* out, std::FILE* err) {
    const std::vector<std::string> places = statusEndpointPlaces(options.statusSocket);
    std::string failure;
    for (int attempt = 0; attempt < kBusyTries; ++attempt) {
        bool busy = false;
        for (const std::string& place : places) {
            const StatusReply reply = askStatus(place, options.statusRequest, kAnswerWaitMs);
            if (reply.outcome == StatusReply::Outcome::NotRunning) continue;
            if (reply.outcome == StatusReply::Outcome::Failed) {
                if (failure.empty()) failure = reply.text;
                continue;
            }
            if (reply.text.starts_with("error: busy")) {
                busy = true;
                break;
            }
            const int status = exitStatusOf(reply.text);
            std::fputs(reply.text.c_str(), status == 3 ? err : out);
            return status;
        }
        if (!busy) break;
        failure = "the program is busy with other status requests";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (!failure.empty()) {
        std::fprintf(err, "tidewell: cannot get the status: %s\n", failure.c_str());
        return 3;
    }
    std::string where;
    for (std::size_t i = 0; i < places.size(); ++i)
        where += (i == 0 ? "" : i + 1 == places.size() ? " or " : ", ") + places[i];
    std::fprintf(out, "tidewell is not running (no status %s at %s)\n",
                 places.front().starts_with("\\\\.\\pipe\\") ? "pipe" : "socket", where.c_str());
    return 2;
}

}  // namespace tidewell
