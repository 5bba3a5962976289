#include "search/estimates.h"

#include <fstream>

#include "platform/data_directory.h"
#include "search/proof_state.h"

namespace {

void loadEstimateTable(const char* name, int32_t (&table)[EstimateCount]) {
    std::ifstream file(platform::dataPath(name));
    if (!file) {
        for (int32_t& entry : table) entry = 1;
        return;
    }
    // Cleared first so that a reload reads exactly like the first load.
    for (int32_t& entry : table) entry = 0;
    for (int32_t& entry : table) {
        int32_t value;
        if (!(file >> value)) break;
        entry = value;
    }
}

}  // namespace

void loadEstimates() {
    idCounter = 0;
    loadEstimateTable(platform::ProofEstimatePath, pnEst);
    loadEstimateTable(platform::DisproofEstimatePath, dnEst);
}
