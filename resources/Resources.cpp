// The icons are compiled in by the build; this unit only gives their library something to hold.
namespace sonalto_resources {
int anchor = 0;
}
