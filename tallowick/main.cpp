#include "common/job.h"
#include "tallowick/helper_error.h"

int main() {
  vantrel::runJobAndPark([] { throw tallowick::HelperError::usage("not built yet"); },
                         vantrel::describeForeignError);
}
