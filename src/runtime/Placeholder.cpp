// Keeps the runtime library non-empty until its first helpers land.
namespace lumvane {}
