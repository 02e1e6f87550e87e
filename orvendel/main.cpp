#include "common/job.h"
#include "orvendel/helper_error.h"

int main() {
  vantrel::runJobAndPark([] { throw orvendel::HelperError::usage("not built yet"); },
                         vantrel::describeForeignError);
}
