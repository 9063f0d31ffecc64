*ks_c_5601*
*euc-kr*
*euc_kr*
*gb2312*
*gbk*
*big5*
*windows-949*
*windows-936*
