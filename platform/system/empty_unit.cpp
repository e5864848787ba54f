// Stands in for a folder that has no routines yet, so its library still builds.
namespace { [[maybe_unused]] int empty_unit_marker; }
