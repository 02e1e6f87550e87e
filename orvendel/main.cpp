#include <iostream>
#include <string>
#include <vector>

#include "common/job.h"
#include "orvendel/dispatch.h"
#include "orvendel/helper_error.h"
#include "orvendel/model/language_model.h"

namespace {

std::string describe(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const orvendel::HelperError& e) {
    return e.message();
  } catch (...) {
    return vantrel::describeForeignError(std::current_exception());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  vantrel::runJobAndPark(
      [args = std::move(args)] {
        std::unique_ptr<orvendel::ModelPlatform> platform = orvendel::makeDefaultModelPlatform();
        orvendel::dispatch(args, *platform, std::cout);
      },
      describe);
}
