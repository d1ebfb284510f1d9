// The object that the boundary checks (gate_rules_boundary and
// gate_lookup_boundary, see CMakeLists.txt) link with each library alone. It
// holds nothing: the check is whether the library's own references all
// resolve.
namespace {}  // namespace
