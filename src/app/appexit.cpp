#include "app/appexit.h"

#include <functional>

#include "platform/error/error.h"

namespace zuv::app {
namespace {

// One step under the breaking handler: false when it broke or answered false.
bool quietly(const std::function<bool()>& step) {
  try {
    GuardedBlock guard;
    return step();
  } catch (const Break&) {
    return false;
  }
}

}  // namespace

void close_work_areas(table::WorkAreas& areas) {
  for (const std::string& alias : areas.aliases()) {
    bool committed = quietly([&] {
      table::Table* t = areas.find(alias);
      return t && t->commit();
    });
    if (!committed) {
      quietly([&] {
        if (table::Table* t = areas.find(alias)) t->rollback();
        return true;
      });
    }
    // The area is emptied even when closing breaks: the table object goes and its
    // files and locks with it.
    quietly([&] { return areas.close_area(alias); });
  }
}

}  // namespace zuv::app
