/* An empty DLL: the tests add a file-data block to copies of it and open
   them as resource modules. */
int steps_host_marker = 1;
