#include "integration/removal.h"

namespace {

int Rank(Removal outcome) {
  switch (outcome) {
    case Removal::Absent: return 0;
    case Removal::Removed: return 1;
    case Removal::NotOurs: return 2;
    case Removal::Failed: return 3;
  }
  return 3;
}

}  // namespace

RemovalResult CombineRemovals(RemovalResult sofar, RemovalResult next) {
  if (sofar.outcome == Removal::Failed) return sofar;  // the first failure's code stays
  return Rank(next.outcome) > Rank(sofar.outcome) ? next : sofar;
}
