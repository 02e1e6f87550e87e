#include <iostream>
#include <string>
#include <vector>

#include "common/job.h"
#include "orvendel/dispatch.h"
#include "orvendel/model/language_model.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = vantrel::commandLineArguments(argc, argv);
  args.erase(args.begin());
  vantrel::runJobAndPark([args = std::move(args)] {
    std::unique_ptr<orvendel::ModelPlatform> platform = orvendel::makeDefaultModelPlatform();
    orvendel::dispatch(args, *platform, std::cout);
  });
}
