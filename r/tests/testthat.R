library(testthat)
library(orvane)
test_check("orvane")
