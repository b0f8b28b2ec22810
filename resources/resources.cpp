// The library exists to carry the rendered pictures (see CMakeLists.txt).
namespace pellimore_resources {
int anchor = 0;
}
