#include "store/pst/verify/verifier_impl.h"
namespace tavrin::pst::verify {
void Verifier::checkMessaging() {}
}
