// The object that the boundary check (gate_boundary, see CMakeLists.txt)
// links together with the decision rules and the role lookup. It holds
// nothing: the check is whether the libraries' own references all resolve.
namespace {}  // namespace
