// The paths of a run on the fake disk, for a user "Pat".
#ifndef SAVELINK_TEST_SAVE_PATHS_H
#define SAVELINK_TEST_SAVE_PATHS_H

#include <string>

namespace {

const std::u16string kRoaming = u"C:\\Users\\Pat\\AppData\\Roaming";
const std::u16string kMilestone = kRoaming + u"\\Milestone";
const std::u16string kLinkProduct = kMilestone + u"\\Corvandelhurst Rally EV";
const std::u16string kTargetProduct = kMilestone + u"\\Corvandelhurst Rally EVO";
const std::u16string kLink = kLinkProduct + u"\\Saves";
const std::u16string kTarget = kTargetProduct + u"\\Saves";
const std::string kFixed = "saves fixed!!!!!!!!!!!!!!!!!!!\n";

}  // namespace

#endif  // SAVELINK_TEST_SAVE_PATHS_H
