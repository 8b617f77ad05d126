// Command-line front of the image generator ("devsim images ...").
#pragma once

#include <string>
#include <vector>

namespace devsim::images {

// Arguments after "images"; returns the exit status (2 on a usage error).
int images_main(const std::vector<std::string>& args);

} // namespace devsim::images
